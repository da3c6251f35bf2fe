# Warnings and sanitizers for the project's own targets. Third-party code keeps its own flags.
set(VXA_SANITIZE "" CACHE STRING "Sanitizers to build with, e.g. address,undefined or thread")

function(vxa_target_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  if(VXA_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=${VXA_SANITIZE} -fno-omit-frame-pointer
                                             -fno-sanitize-recover=all)
    # GCC's flow analysis is blinded by the sanitizers' instrumentation and reports moved
    # optionals as maybe uninitialised; the plain builds keep the warning.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
    endif()
    target_link_options(${target} PRIVATE -fsanitize=${VXA_SANITIZE})
  endif()
endfunction()

# A library of the project: sources listed explicitly by the caller.
function(vxa_library name)
  add_library(${name} STATIC ${ARGN})
  vxa_target_options(${name})
endfunction()

function(vxa_executable name)
  add_executable(${name} ${ARGN})
  vxa_target_options(${name})
endfunction()
