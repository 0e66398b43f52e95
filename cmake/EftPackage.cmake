# What a host builds against: the CMake package (find_package(EFTMemb) gives EFTMemb::Server
# and, with Qt, EFTMemb::Widget, which also carries the control's API of <eftmemb/control.h>)
# and a pkg-config file for the widget library.
include(CMakePackageConfigHelpers)
set(EFT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/EFTMemb)
install(EXPORT EFTMembTargets NAMESPACE EFTMemb:: DESTINATION ${EFT_CMAKE_DIR} COMPONENT devel)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/EFTMembConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/EFTMembConfig.cmake INSTALL_DESTINATION ${EFT_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/EFTMembConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/EFTMembConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/EFTMembConfigVersion.cmake
  DESTINATION ${EFT_CMAKE_DIR} COMPONENT devel)

# The .pc file finds its prefix from its own place, so the tree can be installed anywhere.
if(EFTMEMB_BUILD_QT)
  file(RELATIVE_PATH EFT_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
  string(REGEX REPLACE "/$" "" EFT_PC_TO_PREFIX "${EFT_PC_TO_PREFIX}")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/eftmemb-widget.pc.in ${CMAKE_CURRENT_BINARY_DIR}/eftmemb-widget.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/eftmemb-widget.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT devel)
endif()
