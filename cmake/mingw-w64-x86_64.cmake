# Cross compiles orbse.exe, a 64-bit Windows console program, on Linux with
# the MinGW-w64 compilers (Debian: g++-mingw-w64-x86-64), and runs what it
# builds (tests, the demo save maker) under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORBSE_MINGW_PREFIX x86_64-w64-mingw32)
# The compilers of the POSIX thread model: GoogleTest needs std::mutex, which
# GCC 12's Win32 thread model lacks. The program itself starts no thread.
set(CMAKE_C_COMPILER ${ORBSE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORBSE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ORBSE_MINGW_PREFIX}-windres)

# Headers and libraries come from the MinGW tree only; programs (the
# generators, Wine) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ORBSE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A self-contained executable: the GCC and C++ runtimes are linked in, so
# orbse.exe needs no DLL beyond those every Windows has.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs and build-time tools run under Wine, through a wrapper that
# gives them a quiet Wine prefix of their own inside the build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/run-under-wine ${CMAKE_BINARY_DIR}/wine-prefix)
