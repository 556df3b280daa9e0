# The program folder as users get it: only the shipped files, laid out by the
# install rules into <build>/dist (component "product"), then stripped, with
# their symbols kept in <build>/symbols, and signed when the build has a
# code-signing certificate (scripts/ship-dist.sh). The i686 build's ZIP of
# it (target release_zip, scripts/release-zip.sh) is the shipped artifact.
# Test programs, helpers and stand-ins are never installed.
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
install(FILES ${LUMORA_DKJSON} DESTINATION xar/Lumora1.0.0 COMPONENT product)

# Authenticode signing with the operator's code-signing certificate. Without
# a certificate the binaries ship unsigned, and the build says so.
set(LUMORA_CODESIGN_CERT "" CACHE FILEPATH
    "Code-signing certificate with its chain (PEM or DER), or a PKCS#12 file (.pfx/.p12) holding certificate and key; empty: unsigned")
set(LUMORA_CODESIGN_KEY "" CACHE FILEPATH
    "Private key of the code-signing certificate (PEM or DER); not with a PKCS#12 file")
set(LUMORA_CODESIGN_PASSWORD_FILE "" CACHE FILEPATH
    "File holding the password of the key or PKCS#12 file; empty: not protected")
set(LUMORA_CODESIGN_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 time-stamping address counter-signing each signature; empty: no time stamp")
set(LUMORA_CODESIGN_CA "" CACHE FILEPATH
    "CA certificates each signature is checked against after signing (osslsigncode verify); empty: not checked")

set(LUMORA_SYMBOLS_DIR ${CMAKE_BINARY_DIR}/symbols)
# What went into the build, written at configure time (cmake/ReleaseSettings.cmake).
set(LUMORA_RELEASE_SUMMARY ${CMAKE_BINARY_DIR}/release-summary.txt)
# The signing settings as options of the scripts that sign (--cert FILE ...):
# scripts/ship-dist.sh here, scripts/make-installer.sh for the installer.
set(LUMORA_CODESIGN_OPTIONS "")
foreach(_setting CERT KEY PASSWORD_FILE TIMESTAMP_URL CA)
  if(LUMORA_CODESIGN_${_setting})
    string(TOLOWER "${_setting}" _option)
    string(REPLACE "_" "-" _option "${_option}")
    list(APPEND LUMORA_CODESIGN_OPTIONS --${_option} ${LUMORA_CODESIGN_${_setting}})
  endif()
endforeach()
set(_ship_options --dist ${CMAKE_BINARY_DIR}/dist --symbols ${LUMORA_SYMBOLS_DIR}
    --objcopy ${CMAKE_OBJCOPY} --strip ${CMAKE_STRIP} --summary ${LUMORA_RELEASE_SUMMARY}
    ${LUMORA_CODESIGN_OPTIONS})

# Every build lays the folder out anew, so tests and the demo copy a current one.
add_custom_target(dist ALL
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${CMAKE_BINARY_DIR}/dist
  COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --component product
          --prefix ${CMAKE_BINARY_DIR}/dist
  COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/ship-dist.sh ${_ship_options}
  COMMENT "dist: the program folder as shipped"
  VERBATIM)
add_dependencies(dist ${LUMORA_SHIPPED_TARGETS})

# The shipped artifact and its symbols beside it:
# Lumora-<version>-win32.zip and Lumora-<version>-win32-symbols.zip.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(LUMORA_ZIP_SYSTEM win32)
else()
  set(LUMORA_ZIP_SYSTEM win64)
endif()
add_custom_target(release_zip
  COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/release-zip.sh
          ${CMAKE_BINARY_DIR}/dist ${LUMORA_SYMBOLS_DIR}
          ${CMAKE_BINARY_DIR}/Lumora-${LUMORA_VERSION_TEXT}-${LUMORA_ZIP_SYSTEM}
          ${CMAKE_SOURCE_DIR} ${LUMORA_BUILD_NUMBER}
  COMMENT "release_zip: the shipped ZIP"
  VERBATIM)
add_dependencies(release_zip dist)
