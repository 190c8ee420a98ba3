# Debian packages of the two install components (cmake/install.cmake), made
# in the build directory with `cpack -G DEB`:
#   rowfan       the tool, its man page and rule files (component tool)
#   libvela-dev  the libraries, headers, CMake and pkg-config files (dev)
# Both carry the project's version; the libraries are static, so only the
# tool's package depends on shared libraries, found by dpkg-shlibdeps.
set(ROWFAN_PACKAGE_MAINTAINER "rowfan maintainers <rowfan@localhost>" CACHE STRING
    "Maintainer named in the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rowfan)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL tool dev)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ROWFAN_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME rowfan)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION science)
set(CPACK_DEBIAN_TOOL_PACKAGE_SHLIBDEPS ON)
string(CONCAT CPACK_COMPONENT_TOOL_DESCRIPTION
  "Expands the rows of a load file by rules\n"
  "rowfan reads a load file (a plain-text table), reads a rule file that says\n"
  "how one row becomes several, and writes a new load file in which every row\n"
  "is expanded depth first and numbered. A tool of the vela tool set.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libvela-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
string(CONCAT CPACK_COMPONENT_DEV_DESCRIPTION
  "Libraries of the vela tool set (development files)\n"
  "velalib, the set's shared library (entry, options, wildcards, messages,\n"
  "strings, association lists), and loadfile, the load file library (table\n"
  "store, reader, writer), as static libraries with their headers, a CMake\n"
  "package configuration (find_package(vela)) and pkg-config files.")

# Built with the IRAF start-up, the tool reads IRAF's own configuration when
# it starts, and a program linked with velalib needs IRAF's static libraries.
if(ROWFAN_IRAF)
  set(_vela_iraf_version "")
  find_program(DPKG_QUERY dpkg-query)
  if(DPKG_QUERY)
    execute_process(COMMAND ${DPKG_QUERY} -W -f=\${source:Upstream-Version} iraf-dev
                    OUTPUT_VARIABLE _vela_iraf_version ERROR_QUIET)
  endif()
  if(_vela_iraf_version)
    set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "iraf (>= ${_vela_iraf_version})")
    set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "iraf-dev (>= ${_vela_iraf_version})")
  else()
    set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "iraf")
    set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "iraf-dev")
  endif()
endif()

include(CPack)
