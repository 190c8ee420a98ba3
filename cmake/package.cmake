# Debian packages of the two install components (cmake/install.cmake), made
# in the build directory with `cpack -G DEB`:
#   rowfan         the tool, its man page and rule files (component tool)
#   rowfan-dbgsym  the tool's debug symbols (rowfan-dbgsym_*.ddeb)
#   libvela-dev    the libraries, headers, CMake and pkg-config files (dev)
# The project packages itself, so the packages are native: their version is
# the project's, and CHANGELOG is their changelog. The libraries are static,
# so only the tool's package depends on shared libraries, those that
# dpkg-shlibdeps finds the binary linked with.
set(ROWFAN_PACKAGE_MAINTAINER "rowfan maintainers <rowfan@vela.invalid>" CACHE STRING
    "Maintainer named in the Debian packages: \"Name <address>\"")

# The changelog's latest entry is the version being packaged.
file(STRINGS ${CMAKE_SOURCE_DIR}/CHANGELOG _vela_changelog_top LIMIT_COUNT 1)
if(NOT _vela_changelog_top MATCHES "^rowfan \\(${PROJECT_VERSION}\\) ")
  message(WARNING "CHANGELOG's latest entry (${_vela_changelog_top}) is not for version "
                  "${PROJECT_VERSION}: the packages' changelog would not describe them")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rowfan)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL tool dev)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ROWFAN_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME ${VELA_PACKAGE_tool})
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION science)
set(CPACK_DEBIAN_TOOL_PACKAGE_SHLIBDEPS ON)
# CPack strips the tool and keeps what it takes out in rowfan-dbgsym, found
# by the binary's build ID under /usr/lib/debug/.build-id/.
set(CPACK_DEBIAN_TOOL_DEBUGINFO_PACKAGE ON)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/dbgsym.cmake)
string(CONCAT CPACK_COMPONENT_TOOL_DESCRIPTION
  "Expands the rows of a load file by rules\n"
  "rowfan reads a load file (a plain-text table), reads a rule file that says\n"
  "how one row becomes several, and writes a new load file in which every row\n"
  "is expanded depth first and numbered. A tool of the vela tool set.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${VELA_PACKAGE_dev})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
string(CONCAT CPACK_COMPONENT_DEV_DESCRIPTION
  "Libraries of the vela tool set (development files)\n"
  "velalib, the set's shared library (entry, options, wildcards, messages,\n"
  "strings, association lists), and loadfile, the load file library (table\n"
  "store, reader, writer), as static libraries with their headers, a CMake\n"
  "package configuration (find_package(vela)) and pkg-config files.")

# Built with the IRAF start-up, a program linked with velalib needs IRAF's
# static libraries, which iraf-dev installs (velalib.pc and the CMake
# configuration name them). The tool needs nothing of IRAF installed: the
# start-up reads IRAF's environment files (hosts, zzsetenv.def, extern.pkg
# under /usr/lib/iraf/) when they are there, and runs the same without them.
if(ROWFAN_IRAF)
  set(_vela_iraf_version "")
  find_program(DPKG_QUERY dpkg-query)
  if(DPKG_QUERY)
    execute_process(COMMAND ${DPKG_QUERY} -W -f=\${source:Upstream-Version} iraf-dev
                    OUTPUT_VARIABLE _vela_iraf_version ERROR_QUIET)
  endif()
  if(_vela_iraf_version)
    set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "iraf-dev (>= ${_vela_iraf_version})")
  else()
    set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "iraf-dev")
  endif()
endif()

include(CPack)
