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
# Resource scripts are UTF-8, like every other source.
set(CMAKE_RC_FLAGS_INIT "-c 65001")

set(CMAKE_FIND_ROOT_PATH /usr/${VXA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Hardened: the stack protector in every function with a buffer, and programs the system may load
# anywhere (ASLR, high-entropy on x86-64) with data that never runs (DEP). Today's binutils sets
# the last three by itself for x86-64; they are asked for anyway, so that an older linker or the
# i686 one cannot leave them out. The Windows stage checks each program with objdump -p.
set(CMAKE_C_FLAGS_INIT "-fstack-protector-strong")
set(CMAKE_CXX_FLAGS_INIT "-fstack-protector-strong")
set(vxa_hardening "-fstack-protector-strong -Wl,--dynamicbase,--nxcompat")
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  string(APPEND vxa_hardening " -Wl,--high-entropy-va")
endif()
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static ${vxa_hardening}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static ${vxa_hardening}")
