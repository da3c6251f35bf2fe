# Windows x86-64 with Debian's mingw-w64. Programs built during the build (the placeholder boot
# image) and the tests run under Wine's 64-bit loader.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VXA_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

find_program(VXA_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(VXA_WINE64 NAMES wine64)
if(VXA_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VXA_WINE64})
endif()
