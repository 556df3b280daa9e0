# Settings every target of ours gets: warnings, GBK program text, static
# MinGW runtime (Wine has no libstdc++/libwinpthread DLLs to offer).

function(lumora_settings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -Wno-unused-parameter -fexec-charset=GBK>)
  target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX
    _WIN32_WINNT=0x0601 WINVER=0x0601)
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
endfunction()

# A GUI program of the product.
function(lumora_program target)
  add_executable(${target} WIN32 ${ARGN})
  lumora_settings(${target})
endfunction()

# Time in the tests: a build whose tests run slower (the i686 build under
# emulation) sets LUMORA_TEST_TIME_FACTOR; CTest's time-outs are multiplied
# by it, and the tests get it in their environment for their own budgets
# (testing_support::Budget).
if(NOT LUMORA_TEST_TIME_FACTOR)
  set(LUMORA_TEST_TIME_FACTOR 1)
endif()
set(LUMORA_TEST_ENVIRONMENT "")
if(NOT LUMORA_TEST_TIME_FACTOR EQUAL 1)
  set(LUMORA_TEST_ENVIRONMENT ENVIRONMENT LUMORA_TEST_TIME_FACTOR=${LUMORA_TEST_TIME_FACTOR})
endif()
# lumora_test_seconds(<out var> <seconds on x86_64>)
function(lumora_test_seconds out seconds)
  math(EXPR scaled "${seconds} * ${LUMORA_TEST_TIME_FACTOR}")
  set(${out} ${scaled} PARENT_SCOPE)
endfunction()

# A console test program; its tests are discovered and run under Wine. Each
# carries the CTest label of its component, LUMORA_TEST_LABEL, set once in the
# component's folder (ctest -L <label>). Extra CTest properties for its tests
# may be set in LUMORA_TEST_PROPERTIES.
function(lumora_test target)
  if(NOT LUMORA_TEST_LABEL)
    message(FATAL_ERROR "lumora_test(${target}): no LUMORA_TEST_LABEL set in ${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
  add_executable(${target} ${ARGN})
  lumora_settings(${target})
  target_link_libraries(${target} PRIVATE test_main test_support)
  target_precompile_headers(${target} REUSE_FROM test_pch)
  if(LUMORA_CAN_RUN_TESTS)
    lumora_test_seconds(discovery 60)
    lumora_test_seconds(timeout 120)
    gtest_discover_tests(${target}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT ${discovery}
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
      PROPERTIES TIMEOUT ${timeout} LABELS ${LUMORA_TEST_LABEL} ${LUMORA_TEST_ENVIRONMENT}
                 ${LUMORA_TEST_PROPERTIES})
  endif()
endfunction()
