# The installed CMake package (find_package(trislip 1.1) and the imported
# target trislip::trislip) and a pkg-config file, both relocatable.
include(CMakePackageConfigHelpers)

set(trislip_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/trislip)
install(EXPORT trislipTargets NAMESPACE trislip:: DESTINATION ${trislip_cmake_dir} COMPONENT dev)
configure_package_config_file(cmake/trislipConfig.cmake.in
  ${PROJECT_BINARY_DIR}/trislipConfig.cmake
  INSTALL_DESTINATION ${trislip_cmake_dir})
# 1.x releases keep the header and the values; 2.0 may not.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/trislipConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/trislipConfig.cmake
              ${PROJECT_BINARY_DIR}/trislipConfigVersion.cmake
        DESTINATION ${trislip_cmake_dir} COMPONENT dev)

# pkg-config: the prefix is found from the .pc file's own folder, so the
# same file serves any install prefix and the Debian package.
file(RELATIVE_PATH trislip_pc_to_prefix
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" trislip_pc_to_prefix "${trislip_pc_to_prefix}")
# The exports come first: a static library before the ones it uses.
if(TRISLIP_EXPORTS)
  set(trislip_pc_libs "-ltrislip_exports -ltrislip -lmseed")
  # PROJ and netCDF are opened at run time, with dlopen.
  if((TRISLIP_PROJ OR TRISLIP_NETCDF) AND CMAKE_DL_LIBS)
    string(APPEND trislip_pc_libs " -l${CMAKE_DL_LIBS}")
  endif()
  string(APPEND trislip_pc_libs " -pthread")
else()
  set(trislip_pc_libs "-ltrislip")
endif()
configure_file(cmake/trislip.pc.in ${PROJECT_BINARY_DIR}/trislip.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/trislip.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
