# The Windows archive (included by packaging/CMakeLists.txt in a Windows build): the window
# vxa4410-loader.exe, the terminal program vxa4410-cli.exe, a README for Windows users, and the licence texts of the compiler's runtime that is linked into
# the program (libgcc and libstdc++ under the GCC Runtime Library Exception, the mingw-w64
# runtime and winpthreads), taken from the Debian packages of the cross compiler that built it.
set(CPACK_GENERATOR ZIP)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_SYSTEM_NAME win32)
endif()

install(TARGETS vxa4410-loader vxa4410-cli RUNTIME DESTINATION .)

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

# The installer, vxa4410-loader-VERSION-setup.exe (`cmake --build . --target installer`): the same
# files as the archive, built by NSIS's makensis from installer.nsi.in. An x86-64 build makes a
# 64-bit installer that installs into the 64-bit Program Files.
find_program(VXA_MAKENSIS makensis)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(VXA_NSIS_TARGET amd64-unicode)
  set(VXA_PROGRAM_FILES "$PROGRAMFILES64")
  set(VXA_INSTALLER ${CMAKE_BINARY_DIR}/${PROJECT_NAME}-${PROJECT_VERSION}-setup.exe)
else()
  set(VXA_NSIS_TARGET x86-unicode)
  set(VXA_PROGRAM_FILES "$PROGRAMFILES")
  set(VXA_INSTALLER ${CMAKE_BINARY_DIR}/${PROJECT_NAME}-${PROJECT_VERSION}-win32-setup.exe)
endif()
set(VXA_ICON ${CMAKE_CURRENT_SOURCE_DIR}/windows/vxa4410-loader.ico)
set(VXA_README ${CMAKE_CURRENT_BINARY_DIR}/windows/README.txt)
set(VXA_LICENCES ${CMAKE_CURRENT_BINARY_DIR}/windows/licenses)
set(VXA_LOADER_EXE "$<TARGET_FILE:vxa4410-loader>")
set(VXA_CLI_EXE "$<TARGET_FILE:vxa4410-cli>")
configure_file(windows/installer.nsi.in windows/installer.nsi.in @ONLY)
file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/windows/installer.nsi
     INPUT ${CMAKE_CURRENT_BINARY_DIR}/windows/installer.nsi.in)
if(VXA_MAKENSIS)
  add_custom_command(
    OUTPUT ${VXA_INSTALLER}
    COMMAND ${VXA_MAKENSIS} -V2 -INPUTCHARSET UTF8 ${CMAKE_CURRENT_BINARY_DIR}/windows/installer.nsi
    DEPENDS vxa4410-loader vxa4410-cli ${CMAKE_CURRENT_BINARY_DIR}/windows/installer.nsi
            ${VXA_README} ${VXA_ICON}
    COMMENT "Building the installer ${VXA_INSTALLER}" VERBATIM)
  add_custom_target(installer DEPENDS ${VXA_INSTALLER})
endif()
