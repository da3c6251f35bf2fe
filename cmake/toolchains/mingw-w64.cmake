# Shared part of the Windows cross toolchains (Debian's mingw-w64). Include it from a file that
# sets VXA_MINGW_TRIPLET first.
#
# The posix thread model, because GCC's win32 model has no std::thread or std::mutex; -static,
# so that the programs need nothing but KERNEL32 and msvcrt from the system they run on.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VXA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VXA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_ASM_COMPILER ${VXA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_RC_COMPILER ${VXA_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VXA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
