# Cross-compiling the Windows programs with MinGW-w64 (x86_64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(LUMORA_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER   ${LUMORA_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LUMORA_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${LUMORA_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LUMORA_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Tests run the programs under 64-bit Wine through our wrapper, which keeps a
# private prefix inside the build folder.
set(LUMORA_CAN_RUN_TESTS ON)
