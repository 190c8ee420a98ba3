# What `cmake --install` puts in place, in two components that are also the
# two Debian packages (cmake/package.cmake):
#   tool  the rowfan binary, its man page and the rule files of data/;
#   dev   the tool set's libraries, velalib and loadfile, with their public
#         headers (include/velalib/, include/loadfile/), the set's process
#         entry for other tools, a CMake package configuration
#         (find_package(vela CONFIG): vela::velalib, vela::loadfile) and
#         pkg-config files (velalib.pc, loadfile.pc).
# Private headers stay beside the sources and generated ones in the build
# directory: neither is installed.
include(CMakePackageConfigHelpers)

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
install(FILES data/detectors.rules DESTINATION ${ROWFAN_RULE_DIR} COMPONENT tool)

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
