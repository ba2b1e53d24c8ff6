# What the two Windows toolchains share: Debian's mingw-w64 (posix threads)
# for the target MINGW_TRIPLET, which the toolchain file sets first.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Tests and tools run under Wine; the run scripts set WINEPREFIX and DISPLAY,
# and put on PATH a wine that starts programs of this architecture.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
