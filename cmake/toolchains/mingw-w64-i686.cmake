# Windows 32-bit (i686) with Debian's mingw-w64. The tests run under Wine's 32-bit loader
# (wine32:i386), where the machine runs 32-bit programs at all; give the build a boot image made
# elsewhere (-DVXA_BOOT_IMAGE=...), so that building the programs alone runs nothing.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VXA_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

find_program(VXA_WINE32 NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(VXA_WINE32 NAMES wine)
if(VXA_WINE32)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VXA_WINE32})
endif()
