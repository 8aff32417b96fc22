# The shipped updater: 32-bit Windows, built with Debian's posix-thread MinGW.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# add_test() commands of this tree run their Windows programs under 32-bit
# Wine, which runs in the emulated i386 root of scripts/i386-root.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env WZ2_WINE_ARCH=win32 ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
