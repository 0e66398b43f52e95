# The CMake package hosts use: find_package(EFTMemb) gives EFTMemb::Core and EFTMemb::Widget.
include(CMakePackageConfigHelpers)
set(EFT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/EFTMemb)
install(EXPORT EFTMembTargets NAMESPACE EFTMemb:: DESTINATION ${EFT_CMAKE_DIR} COMPONENT devel)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/EFTMembConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/EFTMembConfig.cmake INSTALL_DESTINATION ${EFT_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/EFTMembConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/EFTMembConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/EFTMembConfigVersion.cmake
  DESTINATION ${EFT_CMAKE_DIR} COMPONENT devel)
