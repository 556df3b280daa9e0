# What ships is built as it ships; everything else is built to be cheap.
# The shipped programs and DLLs and every library they link are compiled with
# the build type's optimisation and with debug information (their symbols
# are kept apart, cmake/Dist.cmake). Test programs, stand-ins, helpers and
# benchmark programs are compiled at -O1 without debug information, and
# linked without the debug information the shipped libraries bring along:
# they exercise the shipped libraries as built, and about half of a build's
# compiler time went into debug information of code nobody symbolizes.
#   lumora_code_that_ships(<target>...)   after every target is defined
# The targets named there and their link closure count as shipped (a helper
# whose crash a document turns into function and line is named with them).

# The targets of this project that the given ones link, directly or through
# others (generator expressions: every alternative; libraries of the system
# are left out), the given ones included.
function(_lumora_link_closure out)
  set(queue ${ARGN})
  set(seen "")
  while(queue)
    list(POP_FRONT queue item)
    if(NOT TARGET ${item} OR item IN_LIST seen)
      continue()
    endif()
    get_target_property(_imported ${item} IMPORTED)
    if(_imported)
      continue()
    endif()
    list(APPEND seen ${item})
    get_target_property(_type ${item} TYPE)
    set(_links "")
    if(NOT _type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(_direct ${item} LINK_LIBRARIES)
      if(_direct)
        list(APPEND _links ${_direct})
      endif()
    endif()
    get_target_property(_interface ${item} INTERFACE_LINK_LIBRARIES)
    if(_interface)
      list(APPEND _links ${_interface})
    endif()
    foreach(_link ${_links})
      if(_link MATCHES "\\$<")
        # $<LINK_ONLY:zlib>, $<$<BOOL:...>:launcher_settings_trusted>: the
        # names after a colon.
        string(REGEX MATCHALL ":[A-Za-z0-9_.+-]+>" _names "${_link}")
        foreach(_name ${_names})
          string(REGEX REPLACE "^:(.*)>$" "\\1" _name "${_name}")
          list(APPEND queue ${_name})
        endforeach()
      else()
        list(APPEND queue ${_link})
      endif()
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

# Every target defined in <dir> and the folders below it.
function(_lumora_targets_below dir out)
  get_property(_here DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(_subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(_sub ${_subdirs})
    _lumora_targets_below(${_sub} _below)
    list(APPEND _here ${_below})
  endforeach()
  set(${out} ${_here} PARENT_SCOPE)
endfunction()

function(lumora_code_that_ships)
  _lumora_link_closure(_shipped ${ARGN})
  _lumora_targets_below(${CMAKE_SOURCE_DIR} _all)
  foreach(_target ${_all})
    get_target_property(_type ${_target} TYPE)
    if(NOT _type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$")
      continue()
    endif()
    if(_target IN_LIST _shipped)
      target_compile_options(${_target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-g>)
    else()
      # After the build type's -O3: the last -O counts.
      target_compile_options(${_target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-O1>)
      if(NOT _type MATCHES "^(STATIC_LIBRARY|OBJECT_LIBRARY)$")
        target_link_options(${_target} PRIVATE -Wl,--strip-debug)
      endif()
    endif()
  endforeach()
endfunction()
