# The program folder as users get it: only the shipped files, laid out by the
# install rules into <build>/dist (component "product"); a ZIP of it is the
# shipped artifact (CPack, ZIP generator). Test programs, helpers and
# stand-ins are never installed.
set(CMAKE_INSTALL_PREFIX ${CMAKE_BINARY_DIR}/dist CACHE PATH "" FORCE)

set(LUMORA_SHIPPED_TARGETS Lumora Updater Portus crashrpt Strata Download XLUE lua51)

# Every shipped exe and DLL says what it is and which version (cmake/Version.cmake).
lumora_version_info(Lumora Lumora.exe "Lumora launcher" "Lumora 启动器")
lumora_version_info(Updater Updater.exe "Lumora updater" "Lumora 更新程序")
lumora_version_info(Portus Portus.exe "Lumora URL protocol handler" "Lumora 链接协议处理程序")
lumora_version_info(crashrpt CrashRpt.dll "Lumora crash reporter" "Lumora 崩溃报告组件")
lumora_version_info(Strata Strata.dll "Lumora database library" "Lumora 数据库组件")
lumora_version_info(Download Download.dll "Lumora download service" "Lumora 下载服务")
lumora_version_info(XLUE XLUE.dll "Lumora UI engine" "Lumora 界面引擎")
lumora_version_info(lua51 lua51.dll "Lua 5.1 interpreter" "Lua 5.1 脚本引擎"
                    "Copyright (C) 1994-2012 Lua.org, PUC-Rio")
get_property(_versioned GLOBAL PROPERTY LUMORA_VERSIONED_TARGETS)
foreach(_target ${LUMORA_SHIPPED_TARGETS})
  if(NOT _target IN_LIST _versioned)
    message(FATAL_ERROR "${_target} ships without a version resource (lumora_version_info)")
  endif()
endforeach()

install(TARGETS ${LUMORA_SHIPPED_TARGETS}
  RUNTIME DESTINATION . COMPONENT product
  LIBRARY DESTINATION . COMPONENT product)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/launcher/ui/xar/Lumora1.0.0
  DESTINATION xar COMPONENT product)

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
set(CPACK_PACKAGE_VERSION ${LUMORA_VERSION_TEXT})
set(CPACK_COMPONENTS_ALL product)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "86$")
  set(CPACK_SYSTEM_NAME win32)
else()
  set(CPACK_SYSTEM_NAME win64)
endif()
include(CPack)
