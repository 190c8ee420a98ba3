# What `cmake --install` puts in place, in two components that are also the
# two Debian packages (cmake/package.cmake):
#   tool  the rowfan binary, its man page and the rule files of data/ (in
#         share/vela/data/: a site makes them its rule directory, see
#         README.md);
#   dev   the tool set's libraries, velalib and loadfile, with their public
#         headers (include/velalib/, include/loadfile/), the set's process
#         entry for other tools, a CMake package configuration
#         (find_package(vela CONFIG): vela::velalib, vela::loadfile) and
#         pkg-config files (velalib.pc, loadfile.pc).
# Private headers stay beside the sources and generated ones in the build
# directory: neither is installed.
include(CMakePackageConfigHelpers)

# The package each component becomes.
set(VELA_PACKAGE_tool rowfan)
set(VELA_PACKAGE_dev libvela-dev)

# --- tool
install(TARGETS rowfan RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
if(EXISTS ${CMAKE_SOURCE_DIR}/doc/rowfan.1)
  # Compressed, as the system's man pages are.
  set(_vela_man ${CMAKE_BINARY_DIR}/man/rowfan.1)
  add_custom_command(OUTPUT ${_vela_man}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/doc/rowfan.1 ${_vela_man}
    COMMAND gzip -9nf ${_vela_man}
    DEPENDS ${CMAKE_SOURCE_DIR}/doc/rowfan.1
    VERBATIM)
  add_custom_target(manpage ALL DEPENDS ${_vela_man}.gz)
  install(FILES ${_vela_man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
endif()
# Not in the rule directory itself, which lies outside the file system
# hierarchy a package may fill; a site links it here, mounts it, or ships it.
install(FILES data/detectors.rules DESTINATION ${CMAKE_INSTALL_DATADIR}/vela/data COMPONENT tool)

# --- dev
# The headers compile as C++17 or later.
target_compile_features(loadfile PUBLIC cxx_std_17)
install(TARGETS loadfile velalib EXPORT vela-targets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
# Each library's folder holds its public headers and nothing else.
install(DIRECTORY include/loadfile include/velalib
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
# Every tool of the set compiles this entry into its own program and defines
# task(); it is a source, not part of a library.
install(FILES src/velalib/main.cpp DESTINATION ${CMAKE_INSTALL_DATADIR}/vela COMPONENT dev)

# The IRAF start-up needs IRAF's runtime libraries, which iraf-dev installs,
# and the copy of its Fortran support library without its main() that
# cmake/iraf.cmake makes; that copy is installed beside ours.
set(_vela_pc_iraf "")
if(ROWFAN_IRAF)
  install(FILES ${IRAF_LIBF2C_NOMAIN} DESTINATION ${CMAKE_INSTALL_LIBDIR}/vela COMPONENT dev)
  set(_vela_pc_iraf
      "${IRAF_LIBSYS} ${IRAF_LIBVOPS} ${IRAF_LIBOS} \${libdir}/vela/libf2c-nomain.a -lm")
endif()

set(_vela_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/vela)
install(EXPORT vela-targets NAMESPACE vela:: DESTINATION ${_vela_cmake_dir} COMPONENT dev)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/vela-config.cmake.in
  ${CMAKE_BINARY_DIR}/vela-config.cmake
  INSTALL_DESTINATION ${_vela_cmake_dir}
  PATH_VARS CMAKE_INSTALL_LIBDIR CMAKE_INSTALL_DATADIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/vela-config-version.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/vela-config.cmake ${CMAKE_BINARY_DIR}/vela-config-version.cmake
        DESTINATION ${_vela_cmake_dir} COMPONENT dev)

# pkg-config files that find the prefix from where they lie, so the same
# files serve an install under any prefix and the Debian package.
file(RELATIVE_PATH _vela_pc_to_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" _vela_pc_to_prefix "${_vela_pc_to_prefix}")
foreach(_pc loadfile velalib)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/${_pc}.pc.in ${CMAKE_BINARY_DIR}/pkgconfig/${_pc}.pc
                 @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/pkgconfig/${_pc}.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endforeach()

# Each package's copyright file and changelog, in its own folder under
# share/doc, where Debian's tools look for them.
file(READ ${CMAKE_SOURCE_DIR}/LICENSE _vela_licence)
# The licence's terms, from its first condition on, as a copyright file's
# licence text: every line indented, every empty line a lone dot.
string(REGEX REPLACE "^.*\n(Redistribution and use)" "\\1" _vela_licence "${_vela_licence}")
string(STRIP "${_vela_licence}" _vela_licence)
string(REGEX REPLACE "\n\n" "\n.\n" _vela_licence "${_vela_licence}")
string(REPLACE "\n" "\n " _vela_copyright_bsd " ${_vela_licence}")
set(_vela_copyright_iraf_comment "")
set(_vela_copyright_iraf_licences "")
if(ROWFAN_IRAF)
  # The IRAF code the tool is linked with, and the Fortran support library
  # copied into the dev package: a comment on the first paragraph, then the
  # two licences.
  file(READ ${CMAKE_SOURCE_DIR}/cmake/copyright-iraf.in _vela_iraf)
  string(FIND "${_vela_iraf}" "\n\n" _vela_cut)
  string(SUBSTRING "${_vela_iraf}" 0 ${_vela_cut} _vela_copyright_iraf_comment)
  math(EXPR _vela_cut "${_vela_cut} + 1")
  string(SUBSTRING "${_vela_iraf}" ${_vela_cut} -1 _vela_copyright_iraf_licences)
endif()
configure_file(${CMAKE_SOURCE_DIR}/cmake/copyright.in ${CMAKE_BINARY_DIR}/doc/copyright.in @ONLY)
# No empty line where a placeholder was empty: paragraphs are separated by
# one empty line, and the file ends with its last line.
file(READ ${CMAKE_BINARY_DIR}/doc/copyright.in _vela_copyright)
string(REGEX REPLACE "\n\n+" "\n\n" _vela_copyright "${_vela_copyright}")
string(REGEX REPLACE "\n+$" "\n" _vela_copyright "${_vela_copyright}")
file(WRITE ${CMAKE_BINARY_DIR}/doc/copyright.tmp "${_vela_copyright}")
configure_file(${CMAKE_BINARY_DIR}/doc/copyright.tmp ${CMAKE_BINARY_DIR}/doc/copyright COPYONLY)

# The changelog, compressed without a name or time stamp so that the same
# sources give the same bytes.
set(_vela_changelog ${CMAKE_BINARY_DIR}/doc/changelog)
add_custom_command(OUTPUT ${_vela_changelog}.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/CHANGELOG ${_vela_changelog}
  COMMAND gzip -9nf ${_vela_changelog}
  DEPENDS ${CMAKE_SOURCE_DIR}/CHANGELOG
  VERBATIM)
add_custom_target(changelog ALL DEPENDS ${_vela_changelog}.gz)

foreach(_component tool dev)
  install(FILES ${CMAKE_BINARY_DIR}/doc/copyright ${_vela_changelog}.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${VELA_PACKAGE_${_component}}
          COMPONENT ${_component})
endforeach()
