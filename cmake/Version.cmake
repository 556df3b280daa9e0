# The product's version, in one place. The launcher reports this build number
# to the endpoints (v=...) and compares it with the newest launcher version;
# every shipped exe and DLL carries it in its version resource, and the ZIP
# is named after it. Format: yyyymmddnn (date and the build of that day).
# A release of the operator's own sets it (each launcher release a higher
# one, so that the endpoint can tell older launchers by their v=).
set(LUMORA_BUILD_NUMBER 2014040401 CACHE STRING
    "The launcher's build number, yyyymmddnn: reported as v=, in every version resource and the ZIP's name")

if(NOT LUMORA_BUILD_NUMBER MATCHES "^(20[0-9][0-9])([01][0-9])([0-3][0-9])([0-9][0-9])$")
  message(FATAL_ERROR "LUMORA_BUILD_NUMBER must read yyyymmddnn: ${LUMORA_BUILD_NUMBER}")
endif()
# "2014.04.04.01": the ZIP's name and the version texts.
set(LUMORA_VERSION_TEXT "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_3}.${CMAKE_MATCH_4}")
# 2014,4,4,1: the version resource's numbers (each part fits 16 bits).
set(_parts)
foreach(_i 1 2 3 4)
  math(EXPR _part "${CMAKE_MATCH_${_i}}")  # drops leading zeros
  list(APPEND _parts ${_part})
endforeach()
string(REPLACE ";" "," LUMORA_VERSION_FIELDS "${_parts}")

# lumora_version.h for the code (the launcher's kLauncherBuildNumber, the tests).
set(LUMORA_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/lumora_version.h.in
               ${LUMORA_GENERATED_DIR}/lumora_version.h @ONLY)
add_library(lumora_version INTERFACE)
target_include_directories(lumora_version INTERFACE ${LUMORA_GENERATED_DIR})

# A version resource for a shipped exe or DLL, with an English and a Chinese
# (Simplified, code page 936) string block:
#   lumora_version_info(<target> <file name> <English description> <Chinese description>
#                       [<copyright>])
# The resource script is generated as UTF-8 and read by windres under
# "#pragma code_page(65001)", which stores the texts as UTF-16, as Windows
# expects; GetFileVersionInfoA hands them out again in the user's code page.
function(lumora_version_info target file_name description_en description_zh)
  get_target_property(_type ${target} TYPE)
  if(_type STREQUAL "EXECUTABLE")
    set(LUMORA_FILE_TYPE VFT_APP)
  elseif(_type STREQUAL "SHARED_LIBRARY")
    set(LUMORA_FILE_TYPE VFT_DLL)
  else()
    message(FATAL_ERROR "lumora_version_info: ${target} is neither a program nor a DLL")
  endif()
  set(LUMORA_FILE_NAME ${file_name})
  get_filename_component(LUMORA_INTERNAL_NAME ${file_name} NAME_WE)
  set(LUMORA_DESCRIPTION_EN "${description_en}")
  set(LUMORA_DESCRIPTION_ZH "${description_zh}")
  # An optional fifth argument: the copyright line of a library we build
  # from someone else's sources.
  set(LUMORA_EXTRA_VALUES "")
  if(ARGC GREATER 4)
    set(LUMORA_EXTRA_VALUES "VALUE \"LegalCopyright\", \"${ARGV4}\"")
  endif()
  set(_rc ${LUMORA_GENERATED_DIR}/version_${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/resources/version.rc.in ${_rc} @ONLY)
  target_sources(${target} PRIVATE ${_rc})
  set_property(GLOBAL APPEND PROPERTY LUMORA_VERSIONED_TARGETS ${target})
endfunction()
