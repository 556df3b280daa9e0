# The test builds' trust material and their native helpers:
#   - <build>/trust: the configuration-signing key pair of the tests and the
#     demo, the test CA and the loopback server's certificates
#     (scripts/trust-pki.sh, made at configure time when missing);
#   - <build>/native/bin: lumora_publish (the operator's publishing tool) and
#     lumora_tls_front (the HTTPS side of the loopback operator), built
#     natively with the host's compiler (tools/native, an ExternalProject);
#   - the HTTPS ports of the loopback operator, in front of the plain ones.
set(LUMORA_TRUST_DIR ${CMAKE_BINARY_DIR}/trust)
set(LUMORA_TLS_CONFIG_PORT 18443)      # in front of 18090
set(LUMORA_TLS_STATISTICS_PORT 19443)  # in front of 9090
set(LUMORA_TLS_CONTROL_DIR ${CMAKE_BINARY_DIR}/tls-front)

execute_process(COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/trust-pki.sh ${LUMORA_TRUST_DIR}
                RESULT_VARIABLE _pki_rc OUTPUT_VARIABLE _pki_out ERROR_VARIABLE _pki_out)
if(NOT _pki_rc EQUAL 0)
  message(FATAL_ERROR "scripts/trust-pki.sh failed (is openssl installed?):\n${_pki_out}")
endif()

include(ExternalProject)
ExternalProject_Add(native_tools
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/tools/native
  BINARY_DIR ${CMAKE_BINARY_DIR}/native
  CMAKE_ARGS -DCMAKE_CXX_COMPILER=c++ -DCMAKE_BUILD_TYPE=Release
             -DLUMORA_DEPS_CACHE=${LUMORA_DEPS_CACHE}
  BUILD_ALWAYS ON
  INSTALL_COMMAND "")
set(LUMORA_NATIVE_BIN ${CMAKE_BINARY_DIR}/native/bin)

# The HTTPS front as a CTest fixture: started before the first test that
# needs it (also under "ctest -R <one test>"), stopped after the last. The
# same fixture writes the releases the trusted tests serve
# (scripts/trusted-releases.sh: lumora_publish with the test key into
# <build>/releases, fresh at every run since their replies expire).
add_test(NAME tls_front_start
         COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/tls-front.sh start ${CMAKE_BINARY_DIR})
add_test(NAME tls_front_stop
         COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/tls-front.sh stop ${CMAKE_BINARY_DIR})
# Labelled "fixture", not with a component: "ctest -L download" or "-L launcher"
# adds them by itself where a selected test requires them.
add_test(NAME trusted_releases
         COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/trusted-releases.sh ${CMAKE_BINARY_DIR})
lumora_test_seconds(_start_timeout 120)
lumora_test_seconds(_releases_timeout 60)
lumora_test_seconds(_stop_timeout 60)
set_tests_properties(tls_front_start PROPERTIES FIXTURES_SETUP tls_front TIMEOUT ${_start_timeout}
                     LABELS fixture)
set_tests_properties(trusted_releases PROPERTIES FIXTURES_SETUP tls_front
                     TIMEOUT ${_releases_timeout} LABELS fixture)
set_tests_properties(tls_front_stop PROPERTIES FIXTURES_CLEANUP tls_front TIMEOUT ${_stop_timeout}
                     LABELS fixture)
