# The program folder as users get it: only the shipped files, laid out by the
# install rules into <build>/dist (component "product"); a ZIP of it is the
# shipped artifact (CPack, ZIP generator). Test programs, helpers and
# stand-ins are never installed.
set(CMAKE_INSTALL_PREFIX ${CMAKE_BINARY_DIR}/dist CACHE PATH "" FORCE)

set(LUMORA_SHIPPED_TARGETS Lumora Updater Portus crashrpt Strata Download XLUE lua51)
install(TARGETS ${LUMORA_SHIPPED_TARGETS}
  RUNTIME DESTINATION . COMPONENT product
  LIBRARY DESTINATION . COMPONENT product)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/launcher/ui/xar/Lumora1.0.0
  DESTINATION xar COMPONENT product)
install(FILES ${LUMORA_DKJSON} DESTINATION xar/Lumora1.0.0 COMPONENT product)

# Every build lays the folder out anew, so tests and the demo copy a current one.
add_custom_target(dist ALL
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${CMAKE_BINARY_DIR}/dist
  COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --component product
          --prefix ${CMAKE_BINARY_DIR}/dist
  COMMENT "dist: the program folder as shipped"
  VERBATIM)
add_dependencies(dist ${LUMORA_SHIPPED_TARGETS})

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Lumora)
set(CPACK_PACKAGE_VERSION 2014.04.04.01)
set(CPACK_COMPONENTS_ALL product)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "86$")
  set(CPACK_SYSTEM_NAME win32)
else()
  set(CPACK_SYSTEM_NAME win64)
endif()
include(CPack)
