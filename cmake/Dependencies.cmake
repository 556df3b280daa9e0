# The outside libraries, as targets for both builds. Sources come from the
# cache that scripts/setup.sh fills; none of them is part of this repository.

set(_deps ${LUMORA_DEPS_CACHE})
foreach(_need jsoncpp/src/lib_json/json_reader.cpp lua/src/lapi.c
              sqlite3-amalgamation/sqlite3.c cpp-httplib/httplib.h)
  if(NOT EXISTS ${_deps}/${_need})
    message(FATAL_ERROR "Missing ${_deps}/${_need}: run scripts/setup.sh first")
  endif()
endforeach()

# jsoncpp, static, with our build of its writer (cmake/JsoncppWriter.cmake:
# raw 8-bit text, whole member names).
include(${CMAKE_CURRENT_LIST_DIR}/JsoncppWriter.cmake)
set(_writer_out ${CMAKE_BINARY_DIR}/deps/json_writer_raw8bit.cpp)
lumora_jsoncpp_writer(${_deps}/jsoncpp/src/lib_json/json_writer.cpp ${_writer_out})
add_library(jsoncpp_static STATIC
  ${_deps}/jsoncpp/src/lib_json/json_reader.cpp
  ${_deps}/jsoncpp/src/lib_json/json_value.cpp
  ${_writer_out})
target_include_directories(jsoncpp_static SYSTEM PUBLIC ${_deps}/jsoncpp/include)
target_include_directories(jsoncpp_static PRIVATE ${_deps}/jsoncpp/src/lib_json)
target_compile_options(jsoncpp_static PRIVATE -w)

# zlib from the MinGW package.
find_library(LUMORA_ZLIB NAMES libz.a z REQUIRED)
add_library(zlib INTERFACE)
target_link_libraries(zlib INTERFACE ${LUMORA_ZLIB})

# SQLite from the amalgamation, static.
add_library(sqlite3 STATIC ${_deps}/sqlite3-amalgamation/sqlite3.c)
target_include_directories(sqlite3 SYSTEM PUBLIC ${_deps}/sqlite3-amalgamation)
target_compile_definitions(sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION)
target_compile_options(sqlite3 PRIVATE -w)

# Lua 5.1 as one DLL: a process must hold exactly one copy of the interpreter.
file(GLOB _lua_sources ${_deps}/lua/src/*.c)
list(FILTER _lua_sources EXCLUDE REGEX "/(lua|luac|print)\\.c$")
add_library(lua51 SHARED ${_lua_sources})
set_target_properties(lua51 PROPERTIES PREFIX "" OUTPUT_NAME lua51)
target_compile_definitions(lua51 PUBLIC LUA_BUILD_AS_DLL)
target_include_directories(lua51 SYSTEM PUBLIC ${_deps}/lua/src)
target_compile_options(lua51 PRIVATE -w)
target_link_options(lua51 PRIVATE -static -static-libgcc)

# cpp-httplib 0.11.4, header-only in its source package (Debian's -dev
# package holds only declarations, for a Linux library). Used by test and
# benchmark programs, never by the product.
add_library(cpp_httplib INTERFACE)
target_include_directories(cpp_httplib SYSTEM INTERFACE ${_deps}/cpp-httplib)

# GoogleTest, built from Debian's sources with the MinGW compiler.
if(EXISTS /usr/src/googletest/googletest/CMakeLists.txt)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  target_compile_options(gtest PRIVATE -w)
  # One precompiled header for every test program (lumora_test): the
  # system's and GoogleTest's headers, parsed once instead of once per test
  # source (about half of a test source's compiler time).
  add_library(test_pch STATIC ${CMAKE_SOURCE_DIR}/tests/support/test_pch.cpp)
  lumora_settings(test_pch)
  target_link_libraries(test_pch PRIVATE gtest)
  target_precompile_headers(test_pch PRIVATE <windows.h> <gtest/gtest.h> <functional> <map>
    <memory> <string> <vector>)
else()
  message(FATAL_ERROR "GoogleTest sources not found: run scripts/setup.sh first")
endif()
