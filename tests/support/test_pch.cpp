// Builds the test programs' precompiled header (tests/CMakeLists.txt, test_pch).
