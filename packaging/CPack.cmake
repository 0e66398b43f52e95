# Three Debian packages, made with `cpack -G DEB` in the build directory after a build:
#   eftmemb-server  eft-server and eft-driver with the libraries they need (no Qt), the unit,
#                   the settings template, the man page
#   eftmemb-host    eft-host with its .desktop file, the widget library, the Designer plugin
#   eftmemb-dev     headers, CMake package, pkg-config file
# Binaries are stripped; their debug symbols go into -dbgsym packages (.ddeb) beside them.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/eft-server.service
  DESTINATION lib/systemd/system COMPONENT server)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/eft-server.env ${PROJECT_SOURCE_DIR}/README.md
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/eftmemb COMPONENT server)
# The guides beside the README, so its links and the man page's and the unit's pointers resolve.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/eftmemb/docs COMPONENT server FILES_MATCHING PATTERN "*.md")
install(FILES ${CMAKE_CURRENT_LIST_DIR}/eft-server.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT server)

set(CPACK_PACKAGE_NAME eftmemb)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "EFTMemb")
set(CPACK_PACKAGE_CONTACT "EFTMemb maintainers <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "EFT membership sweep control, its host programs and the reference server")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL server host devel)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The project's own libraries are found in the build tree; the packages say which holds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  ${PROJECT_BINARY_DIR}/src/server ${PROJECT_BINARY_DIR}/src/qt)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME eftmemb-server)
set(CPACK_COMPONENT_SERVER_DESCRIPTION "EFTMemb reference server (eft-server) and headless driver, without Qt")
# sqlite3: the administrator's guide's online backup (docs/administrator.md) is made with it.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser, sqlite3")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/postinst ${CMAKE_CURRENT_LIST_DIR}/prerm ${CMAKE_CURRENT_LIST_DIR}/postrm)

set(CPACK_DEBIAN_HOST_PACKAGE_NAME eftmemb-host)
set(CPACK_COMPONENT_HOST_DESCRIPTION "EFTMemb host application (eft-host), Qt widget library and Designer plugin")
set(CPACK_DEBIAN_HOST_PACKAGE_DEPENDS "eftmemb-server (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_HOST_PACKAGE_SECTION x11)

set(CPACK_DEBIAN_DEVEL_PACKAGE_NAME eftmemb-dev)
set(CPACK_COMPONENT_DEVEL_DESCRIPTION "EFTMemb development files: headers, CMake package, pkg-config file")
set(CPACK_DEBIAN_DEVEL_PACKAGE_DEPENDS "eftmemb-server (= ${PROJECT_VERSION}), eftmemb-host (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEVEL_PACKAGE_SECTION libdevel)
include(CPack)
