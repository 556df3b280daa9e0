# Cross-compiling the Windows programs with MinGW-w64 (i686).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(LUMORA_TRIPLET i686-w64-mingw32)

set(CMAKE_C_COMPILER   ${LUMORA_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LUMORA_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${LUMORA_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LUMORA_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# This build is the shipped one. Its tests run under the 32-bit Wine, which
# qemu-user emulates (scripts/setup-i686.sh, scripts/wine-run.sh), some 2.5-5
# times slower than the x86_64 build under 64-bit Wine: time budgets in the
# tests and CTest's time-outs are multiplied by LUMORA_TEST_TIME_FACTOR.
set(LUMORA_CAN_RUN_TESTS ON)
set(LUMORA_TEST_TIME_FACTOR 4 CACHE STRING "Factor on the tests' time budgets (emulation)")
