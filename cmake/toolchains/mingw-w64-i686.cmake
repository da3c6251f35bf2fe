# Windows 32-bit (i686) with Debian's mingw-w64: compiled and linked only, as Wine here runs no
# 32-bit programs. There is no emulator, so give the build a boot image made elsewhere
# (-DVXA_BOOT_IMAGE=...).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VXA_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
