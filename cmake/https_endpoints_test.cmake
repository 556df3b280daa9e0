# The rule that a build with keys takes only https:// endpoints
# (lumora_require_https in ConfigKeys.cmake), each case in a child CMake as a
# configure would meet it:
#   cmake -P cmake/https_endpoints_test.cmake        (a CTest of label launcher)
if(DEFINED CASE_ADDRESS)
  include(${CMAKE_CURRENT_LIST_DIR}/ConfigKeys.cmake)
  lumora_require_https(LUMORA_CONFIG_ENDPOINT "${CASE_ADDRESS}" ${CASE_KEYS})
  message(STATUS "accepted")
  return()
endif()

set(failures 0)
# <address> <keys ("" for none)> <expected: accepted|refused>
function(check address keys expected)
  execute_process(COMMAND ${CMAKE_COMMAND} -DCASE_ADDRESS=${address} "-DCASE_KEYS=${keys}"
                          -P ${CMAKE_CURRENT_LIST_FILE}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(expected STREQUAL "accepted")
    set(ok FALSE)
    if(rc EQUAL 0 AND out MATCHES "accepted")
      set(ok TRUE)
    endif()
  else()
    set(ok FALSE)
    if(NOT rc EQUAL 0 AND err MATCHES "LUMORA_CONFIG_ENDPOINT is \"${address}\": a build with a key"
       AND err MATCHES "takes only https:// endpoints")
      set(ok TRUE)
    endif()
  endif()
  if(ok)
    message(STATUS "ok: '${address}' with keys '${keys}': ${expected}")
  else()
    message(SEND_ERROR "'${address}' with keys '${keys}' should be ${expected}: rc ${rc}\n${out}${err}")
  endif()
endfunction()

check("http://config.example.com" "ops.pem" refused)
check("HTTP://127.0.0.1:18090" "a.pem;b.pem" refused)
check("https://" "ops.pem" refused)
check("config.example.com" "ops.pem" refused)
check("https://config.example.com" "ops.pem" accepted)
check("HTTPS://config.example.com:8443" "ops.pem" accepted)
check("http://127.0.0.1:18090" "" accepted)
