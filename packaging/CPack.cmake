# One Debian package of the programs, the libraries, the headers and the service unit:
#   cpack -G DEB    (in the build directory, after a build)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/eft-server.service
  DESTINATION lib/systemd/system COMPONENT server)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/eft-server.env ${PROJECT_SOURCE_DIR}/README.md
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/eftmemb COMPONENT server)

set(CPACK_PACKAGE_NAME eftmemb)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "EFTMemb")
set(CPACK_PACKAGE_CONTACT "EFTMemb maintainers <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "EFT membership sweep control, its host programs and the reference server")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/postinst ${CMAKE_CURRENT_LIST_DIR}/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
