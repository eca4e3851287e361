# What both MinGW-w64 toolchains share: compilers, search roots and the Wine test runner.
set(CMAKE_C_COMPILER ${PELLATRIX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELLATRIX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${PELLATRIX_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PELLATRIX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test binaries run through Wine in the build folder's own prefix (tests/wine/wine_run.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/wine/wine_run.sh)

# Every program, tests included, carries its C++ runtime and winpthread inside it, so that it
# runs from the medium (or under Wine) with no DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
