# What a build puts into what it ships, said in one summary
# (<build>/release-summary.txt, printed by the build's "dist" step and by
# scripts/release.sh), and the rules a release for players must meet.
#
# A release (LUMORA_RELEASE, set by scripts/release.sh) is refused at
# configure time when its launcher has no key, an endpoint is not https, or
# an address is a loopback or placeholder one, unless LUMORA_DEVELOPMENT_BUILD
# says it is a development build; every build with such a problem says
# "DEVELOPMENT BUILD" in its summary.

set(LUMORA_RELEASE OFF CACHE BOOL
    "A release for players: refuse no key, http endpoints and loopback or placeholder addresses")
set(LUMORA_DEVELOPMENT_BUILD OFF CACHE BOOL
    "Allow a release with no key, http endpoints or loopback addresses (it says DEVELOPMENT BUILD)")

# lumora_url_host(<url> <out var>): the host of an address ("" when none),
# lower-cased, without port, user or brackets.
function(lumora_url_host url out)
  set(host "")
  if(url MATCHES "^[A-Za-z][A-Za-z0-9+.-]*://([^/?#]*)")
    set(authority "${CMAKE_MATCH_1}")
    string(REGEX REPLACE "^.*@" "" authority "${authority}")
    if(authority MATCHES "^\\[([^]]*)\\]")
      set(host "${CMAKE_MATCH_1}")
    else()
      string(REGEX REPLACE ":[0-9]*$" "" host "${authority}")
    endif()
  endif()
  string(TOLOWER "${host}" host)
  set(${out} "${host}" PARENT_SCOPE)
endfunction()

# lumora_address_problem(<what> <url> <https required> <out var>): why the
# address must not go to players, or "".
function(lumora_address_problem what url need_https out)
  set(problem "")
  lumora_url_host("${url}" host)
  if(host STREQUAL "")
    set(problem "${what} '${url}' is not an address")
  elseif(host MATCHES "^(localhost|.*\\.localhost|127\\.[0-9.]+|0\\.0\\.0\\.0|::1?|0*:[0:]*:0*1)$")
    set(problem "${what} '${url}' is a loopback address")
  elseif(host MATCHES "(^|\\.)(invalid|test|example|example\\.com|example\\.net|example\\.org)$")
    set(problem "${what} '${url}' is a placeholder address")
  elseif(need_https AND NOT url MATCHES "^[Hh][Tt][Tt][Pp][Ss]://")
    set(problem "${what} '${url}' is not https")
  endif()
  set(${out} "${problem}" PARENT_SCOPE)
endfunction()

# lumora_key_id(<pem> <out var>): the key id the signatures name (the first 8
# bytes of SHA-256 over X||Y, 16 hex digits), as lumora_publish keyid prints it.
function(lumora_key_id pem out)
  execute_process(COMMAND ${LUMORA_OPENSSL} pkey -pubin -in ${pem} -outform DER
                  COMMAND tail -c 64
                  COMMAND ${LUMORA_OPENSSL} dgst -sha256 -r
                  OUTPUT_VARIABLE digest RESULT_VARIABLE rc ERROR_QUIET)
  if(rc EQUAL 0 AND digest MATCHES "^([0-9a-f]+)")
    string(SUBSTRING "${CMAKE_MATCH_1}" 0 16 id)
  else()
    set(id "(unreadable)")
  endif()
  set(${out} "${id}" PARENT_SCOPE)
endfunction()

# lumora_release_problems(<out var>): every reason the settings are not a
# release for players (a ;-list of texts).
function(lumora_release_problems out)
  set(problems "")
  foreach(pair "configuration endpoint|LUMORA_CONFIG_ENDPOINT|1"
               "statistics endpoint|LUMORA_STATISTICS_ENDPOINT|1"
               "customer-service page|LUMORA_SERVICE_URL|0")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 what)
    list(GET pair 1 variable)
    list(GET pair 2 need_https)
    lumora_address_problem("${what} (${variable})" "${${variable}}" ${need_https} problem)
    if(problem)
      list(APPEND problems "${problem}")
    endif()
  endforeach()
  if(NOT LUMORA_CONFIG_PUBLIC_KEY)
    list(APPEND problems "the launcher has no key (LUMORA_CONFIG_PUBLIC_KEY): it verifies nothing")
  endif()
  set(${out} "${problems}" PARENT_SCOPE)
endfunction()

# lumora_release_summary(<file> <system>): checks the settings of a release
# and writes the summary.
function(lumora_release_summary file system)
  lumora_release_problems(problems)
  if(problems AND LUMORA_RELEASE AND NOT LUMORA_DEVELOPMENT_BUILD)
    set(text "")
    foreach(problem IN LISTS problems)
      string(APPEND text "\n  - ${problem}")
    endforeach()
    message(FATAL_ERROR "This release would not be fit for players:${text}\n"
            "Fix the settings, or set LUMORA_DEVELOPMENT_BUILD=ON for a development build.")
  endif()

  set(s "Lumora ${LUMORA_VERSION_TEXT} (build number ${LUMORA_BUILD_NUMBER}), ${system}\n")
  string(APPEND s "  configuration endpoint  ${LUMORA_CONFIG_ENDPOINT}\n")
  string(APPEND s "  statistics endpoint     ${LUMORA_STATISTICS_ENDPOINT}\n")
  string(APPEND s "  customer-service page   ${LUMORA_SERVICE_URL}\n")
  string(APPEND s "  crash reports to        ${LUMORA_CRASH_RECIPIENT}\n")
  list(LENGTH LUMORA_CONFIG_PUBLIC_KEY count)
  if(count EQUAL 0)
    string(APPEND s "  keys                    none: the launcher verifies nothing\n")
  endif()
  foreach(pem IN LISTS LUMORA_CONFIG_PUBLIC_KEY)
    lumora_key_id(${pem} id)
    string(APPEND s "  key                     ${id} (${pem})\n")
  endforeach()
  string(APPEND s "  support text            ${LUMORA_SUPPORT_TEXT}\n")
  if(LUMORA_CODESIGN_CERT)
    string(APPEND s "  code signing            signed with ${LUMORA_CODESIGN_CERT}\n")
  else()
    string(APPEND s "  code signing            UNSIGNED (no LUMORA_CODESIGN_CERT)\n")
  endif()
  if(LUMORA_UNION_CODE)
    set(shortcut "shortcuts with union code ${LUMORA_UNION_CODE}")
  else()
    set(shortcut "shortcuts without a union code")
  endif()
  string(APPEND s "  installer               '${LUMORA_INSTALL_NAME}', URL scheme ${LUMORA_URL_SCHEME}://, ${shortcut}\n")
  if(problems)
    string(APPEND s "  DEVELOPMENT BUILD: NOT FOR PLAYERS:\n")
    foreach(problem IN LISTS problems)
      string(APPEND s "    - ${problem}\n")
    endforeach()
  elseif(LUMORA_RELEASE)
    string(APPEND s "  a release for players: https endpoints, keys built in\n")
  endif()
  _lumora_write_if_changed(${file} "${s}")
endfunction()
