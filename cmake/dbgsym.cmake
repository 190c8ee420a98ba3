# Run by cpack once the packages are made (CPACK_POST_BUILD_SCRIPTS): each
# debug symbol package that CPack split off is made whole as Debian's own are.
#   - CPack lists its files in md5sums by their path in the build directory;
#     dpkg and lintian look for them by their path in the package.
#   - Its debug files are data, not programs: readable, not executable.
#   - Its documentation is that of the package whose symbols it holds, and
#     on which it depends: usr/share/doc/NAME-dbgsym is a link to NAME.
# The packages are still in CPack's own folder, from which it then copies
# them out.
set(_vela_ddebs ${CPACK_PACKAGE_FILES})
list(FILTER _vela_ddebs INCLUDE REGEX "-dbgsym_[^/]*\\.ddeb$")
foreach(_vela_ddeb IN LISTS _vela_ddebs)
  set(_vela_root "${CPACK_TOPLEVEL_DIRECTORY}/dbgsym-repack")
  file(REMOVE_RECURSE "${_vela_root}")
  execute_process(COMMAND dpkg-deb -R "${_vela_ddeb}" "${_vela_root}" COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND dpkg-deb -f "${_vela_ddeb}" Package
                  OUTPUT_VARIABLE _vela_name OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX REPLACE "-dbgsym$" "" _vela_of "${_vela_name}")

  file(MAKE_DIRECTORY "${_vela_root}/usr/share/doc")
  file(CREATE_LINK "${_vela_of}" "${_vela_root}/usr/share/doc/${_vela_name}" SYMBOLIC)

  file(GLOB_RECURSE _vela_files LIST_DIRECTORIES false RELATIVE "${_vela_root}"
       "${_vela_root}/usr/*")
  list(SORT _vela_files)
  set(_vela_md5sums "")
  foreach(_vela_file IN LISTS _vela_files)
    if(NOT IS_SYMLINK "${_vela_root}/${_vela_file}")
      file(CHMOD "${_vela_root}/${_vela_file}"
           FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
      file(MD5 "${_vela_root}/${_vela_file}" _vela_sum)
      string(APPEND _vela_md5sums "${_vela_sum}  ${_vela_file}\n")
    endif()
  endforeach()
  file(WRITE "${_vela_root}/DEBIAN/md5sums" "${_vela_md5sums}")

  execute_process(COMMAND dpkg-deb --root-owner-group -b "${_vela_root}" "${_vela_ddeb}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${_vela_root}")
endforeach()
