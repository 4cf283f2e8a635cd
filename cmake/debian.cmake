# The Debian packages, from one `cpack -G DEB` in a build configured with
# -DCMAKE_INSTALL_PREFIX=/usr -DTRISLIP_STATIC=OFF (scripts/check-package
# does that: Debian's policy wants the programs linked against its shared
# C and C++ libraries, and /usr puts the library files in the multiarch
# folder):
#   trislip          the programs and their manual pages
#   libtrislip-dev   the header, the static libraries, the CMake and pkg-config files
#   python3-trislip  the Python module for Debian's python3
set(CPACK_PACKAGE_NAME trislip)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The Debian revision: these packages are not Debian's own source format.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_VENDOR "The trislip authors")
set(CPACK_PACKAGE_CONTACT "The trislip authors <maintainers@users.noreply.c-seed-b5e9875a.example>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)

set(CPACK_COMPONENTS_ALL programs dev)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME trislip)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION
  "regularized triangle slip velocity function for earthquake sources
trislip synthesises a regularized triangle slip velocity function, a
normalised sum of triangular pulses, its slip and acceleration and their
Fourier amplitude spectra, and writes them as fixed CSV files.
trislip-custom makes the same run with the user's parameters and writes
source time functions for SW4, SPECFEM3D, PyLith, SAC and miniSEED, and
kinematic sources in the Standard Rupture Format. trislip-fault turns
published finite-fault models (FSP, USGS .param) into such sources.")

# PROJ and netCDF are opened by name when a run needs them, so
# dpkg-shlibdeps cannot see them: the programs ask for the packages that
# hold the libraries this build was made against.
set(trislip_opened_packages "")
foreach(file IN ITEMS "${TRISLIP_PROJ_SONAME_FILE}" "${TRISLIP_NETCDF_SONAME_FILE}")
  if(file)
    get_filename_component(real "${file}" REALPATH)
    execute_process(COMMAND dpkg-query -S "${real}" OUTPUT_VARIABLE owner ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(owner MATCHES "^([^:, ]+)")
      list(APPEND trislip_opened_packages ${CMAKE_MATCH_1})
    endif()
  endif()
endforeach()
list(JOIN trislip_opened_packages ", " CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtrislip-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# The static export library links libmseed, and opens PROJ where it
# projects and netCDF where it writes NRF.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libmseed-dev")
foreach(package IN LISTS trislip_opened_packages)
  string(APPEND CPACK_DEBIAN_DEV_PACKAGE_DEPENDS ", ${package}")
endforeach()
set(CPACK_DEBIAN_DEV_DESCRIPTION
  "regularized triangle slip velocity function (development files)
The C++ library behind the trislip programs: the slip velocity, slip and
acceleration of a regularized triangle function, their amplitude spectra,
the writers of SW4, SPECFEM3D, PyLith, SAC, miniSEED and SRF files and the
checks of a sampled function. This package holds the headers, the static
libraries, and the CMake and pkg-config files.")

if(TRISLIP_PYTHON)
  list(APPEND CPACK_COMPONENTS_ALL python)
  execute_process(COMMAND ${Python_EXECUTABLE} -c
      "import sys; print('%d.%d;%d.%d' % (sys.version_info[0], sys.version_info[1], sys.version_info[0], sys.version_info[1] + 1))"
    OUTPUT_VARIABLE trislip_python_versions OUTPUT_STRIP_TRAILING_WHITESPACE)
  list(GET trislip_python_versions 0 trislip_python_this)
  list(GET trislip_python_versions 1 trislip_python_next)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-trislip)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
    "python3 (>= ${trislip_python_this}), python3 (<< ${trislip_python_next}), python3-numpy")
  foreach(package IN LISTS trislip_opened_packages)
    string(APPEND CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS ", ${package}")
  endforeach()
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION
    "regularized triangle slip velocity function (Python 3 module)
The trislip library for Python: the slip velocity, slip and acceleration of
a regularized triangle function and their amplitude spectra as read-only
NumPy arrays, the checks of a sampled function, and files for SW4,
SPECFEM3D, PyLith, SAC, miniSEED and SRF.")
endif()
include(CPack)
