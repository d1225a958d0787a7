# Cross-compiles for 64-bit Windows with the win32-threads flavour of MinGW-w64. The posix flavour
# links its threads runtime (winpthreads) into every static C++ program, and that runtime imports
# GetTickCount64, which XP x64 lacks: its loader would refuse to start the program.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-win32)
set(CMAKE_CXX_COMPILER ${triple}-g++-win32)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Static: the programs must run on a bare Windows (and under Wine) without MinGW's runtime DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Windows programs built here run under Wine in a private prefix (tests, benchmarks).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh)
