# The Debian package: `cpack -G DEB` in the build tree makes
# trislip_<version>_<arch>.deb with the programs, the header, the static
# library, the CMake and pkg-config files and the Python module.
set(CPACK_PACKAGE_NAME trislip)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "trislip maintainers <maintainers@users.noreply.c-seed-b5e9875a.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "regularized triangle slip velocity function for earthquake source models")
set(CPACK_PACKAGE_DESCRIPTION
  "Synthesises a regularized triangle slip velocity function, its slip and\n acceleration and their Fourier amplitude spectra: the programs trislip and\n trislip-custom, a C++ library with CMake and pkg-config files, and a Python\n module for NumPy.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# The programs are static; the Python module needs the C++ runtime (found
# by dpkg-shlibdeps), its own interpreter version and NumPy.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TRISLIP_PYTHON)
  execute_process(COMMAND ${Python_EXECUTABLE} -c
      "import sys; print('%d.%d;%d.%d' % (sys.version_info[0], sys.version_info[1], sys.version_info[0], sys.version_info[1] + 1))"
    OUTPUT_VARIABLE trislip_python_versions OUTPUT_STRIP_TRAILING_WHITESPACE)
  list(GET trislip_python_versions 0 trislip_python_this)
  list(GET trislip_python_versions 1 trislip_python_next)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "python3 (>= ${trislip_python_this}), python3 (<< ${trislip_python_next}), python3-numpy")
endif()
include(CPack)
