# The Windows archive (included by packaging/CMakeLists.txt in a Windows build): vxa4410-cli.exe,
# a README for Windows users, and the licence texts of the compiler's runtime that is linked into
# the program (libgcc and libstdc++ under the GCC Runtime Library Exception, the mingw-w64
# runtime and winpthreads), taken from the Debian packages of the cross compiler that built it.
set(CPACK_GENERATOR ZIP)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_SYSTEM_NAME win32)
endif()

install(TARGETS vxa4410-cli RUNTIME DESTINATION .)

# Windows' own editors expect CRLF line ends.
configure_file(windows/README.txt windows/README.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/windows/README.txt DESTINATION .)

# Each licence: the Debian package that has it, the file, its name in the archive.
set(licences
    "gcc-mingw-w64-base|/usr/share/doc/gcc-mingw-w64-base/copyright|gcc-runtime.txt"
    "base-files|/usr/share/common-licenses/GPL-3|GPL-3.txt"
    "mingw-w64-common|/usr/share/doc/mingw-w64-common/copyright|mingw-w64-runtime.txt")
foreach(licence IN LISTS licences)
  string(REPLACE "|" ";" fields "${licence}")
  list(GET fields 0 package)
  list(GET fields 1 source)
  list(GET fields 2 name)
  if(NOT EXISTS ${source})
    message(FATAL_ERROR "The Windows archive needs ${source}: install the Debian package ${package}")
  endif()
  file(READ ${source} text)
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/windows/licenses/${name} "${text}")
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/windows/licenses/${name} DESTINATION licenses)
endforeach()
