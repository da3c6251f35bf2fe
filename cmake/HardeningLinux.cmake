# Debian's hardening for every program and library built here, as a Debian package build gets it
# from dpkg-buildflags with hardening=+all: _FORTIFY_SOURCE, -fstack-protector-strong, the format
# checks, full RELRO with immediate binding, and PIE. dpkg-buildflags of Debian 12 leaves out the
# control-flow and stack-clash protection that later ones add; they are added here where the
# compiler has them. The build type keeps its own -O and -g: only the hardening is taken.
#
# Sanitizer and fuzzer builds go without: the sanitizers replace the very functions that
# _FORTIFY_SOURCE checks, and clang's fuzzer runtime wants them unchanged. A Debug build gets no
# _FORTIFY_SOURCE, which needs optimisation (glibc warns without it, and warnings are errors here).
option(VXA_HARDENING "Build with Debian's hardening flags (not with sanitizers or the fuzzer)" ON)

function(vxa_dpkg_buildflags variable result)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${VXA_DPKG_BUILDFLAGS} --get ${variable}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "dpkg-buildflags --get ${variable} failed")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  # What belongs to the build type or to a package's build folder, not to the hardening.
  list(FILTER flags EXCLUDE REGEX "^-(g.*|O.*|f(file|debug|macro)-prefix-map=.*)$")
  set(${result} ${flags} PARENT_SCOPE)
endfunction()

if(VXA_HARDENING AND NOT VXA_SANITIZE AND NOT VXA_FUZZ)
  find_program(VXA_DPKG_BUILDFLAGS dpkg-buildflags)
  if(VXA_DPKG_BUILDFLAGS)
    vxa_dpkg_buildflags(CPPFLAGS preprocessor)
    vxa_dpkg_buildflags(CXXFLAGS compiler)
    vxa_dpkg_buildflags(LDFLAGS linker)
  else()
    # Outside Debian: what dpkg-buildflags of Debian 12 gives.
    message(STATUS "dpkg-buildflags not found (package dpkg-dev): Debian 12's hardening flags")
    set(preprocessor -D_FORTIFY_SOURCE=2)
    set(compiler -fstack-protector-strong -Wformat -Werror=format-security)
    set(linker -Wl,-z,relro -Wl,-z,now)
  endif()

  include(CheckCXXCompilerFlag)
  foreach(flag -fcf-protection -fstack-clash-protection)
    string(MAKE_C_IDENTIFIER "VXA_HAS${flag}" known)
    check_cxx_compiler_flag(${flag} ${known})
    if(${known} AND NOT flag IN_LIST compiler)
      list(APPEND compiler ${flag})
    endif()
  endforeach()

  foreach(flag IN LISTS preprocessor)
    if(flag MATCHES "^-D_FORTIFY_SOURCE")
      add_compile_options($<$<AND:$<COMPILE_LANGUAGE:CXX>,$<NOT:$<CONFIG:Debug>>>:${flag}>)
    else()
      add_compile_options($<$<COMPILE_LANGUAGE:CXX>:${flag}>)
    endif()
  endforeach()
  # The assembler source too: with -fcf-protection it marks its object as fit for the CPU's
  # control-flow checks, and one unmarked object leaves the whole program unmarked.
  add_compile_options(${compiler})
  add_link_options(${linker})

  include(CheckPIESupported)
  check_pie_supported()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
endif()
