# The IRAF runtime that the tool starts as a host task: defines IRAF::runtime,
# an imported target carrying the four static libraries in link order.
#
# IRAF keeps its libraries in its own tree, not on the linker's search path,
# and one of them is called libc.a; so each is named by its full path, never
# with -l, and IRAF's header directories stay off the include path (their
# stdio.h would shadow the C library's).

set(IRAF_ROOT "/usr/lib/iraf" CACHE PATH "Root of the IRAF installation (the iraf-dev package)")

# Look again when the root changes in an existing build directory.
if(NOT "${IRAF_ROOT}" STREQUAL "${_IRAF_ROOT_SEARCHED}")
  unset(IRAF_LIBSYS CACHE)
  unset(IRAF_LIBVOPS CACHE)
  unset(IRAF_LIBOS CACHE)
  unset(IRAF_LIBF2C CACHE)
  file(REMOVE ${CMAKE_BINARY_DIR}/iraf/libf2c-nomain.a)
endif()
set(_IRAF_ROOT_SEARCHED "${IRAF_ROOT}" CACHE INTERNAL "IRAF_ROOT the libraries were looked for in")

set(_iraf_missing "")
foreach(_lib sys vops)
  string(TOUPPER ${_lib} _var)
  find_file(IRAF_LIB${_var} lib${_lib}.a PATHS ${IRAF_ROOT}/bin NO_DEFAULT_PATH)
  if(NOT IRAF_LIB${_var})
    list(APPEND _iraf_missing ${IRAF_ROOT}/bin/lib${_lib}.a)
  endif()
endforeach()
foreach(_lib os f2c)
  string(TOUPPER ${_lib} _var)
  find_file(IRAF_LIB${_var} lib${_lib}.a PATHS ${IRAF_ROOT}/unix/bin NO_DEFAULT_PATH)
  if(NOT IRAF_LIB${_var})
    list(APPEND _iraf_missing ${IRAF_ROOT}/unix/bin/lib${_lib}.a)
  endif()
endforeach()

if(_iraf_missing)
  list(JOIN _iraf_missing "\n  " _iraf_missing)
  message(FATAL_ERROR
    "ROWFAN_IRAF is ON but the IRAF runtime libraries were not found:\n"
    "  ${_iraf_missing}\n"
    "Install them with\n"
    "  apt-get install iraf-dev\n"
    "(or point -DIRAF_ROOT=... at an IRAF tree), or build without the IRAF "
    "start-up with\n"
    "  cmake -DROWFAN_IRAF=OFF ...")
endif()

# IRAF's Fortran support library carries a program entry of its own, main(),
# which a linker takes from the archive whenever main is still undefined when
# the archive is read (a test binary whose main comes from a later library).
# A copy without that member cannot be mistaken for the program's entry.
set(IRAF_LIBF2C_NOMAIN ${CMAKE_BINARY_DIR}/iraf/libf2c-nomain.a)
if(NOT EXISTS ${IRAF_LIBF2C_NOMAIN} OR ${IRAF_LIBF2C} IS_NEWER_THAN ${IRAF_LIBF2C_NOMAIN})
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/iraf)
  file(COPY_FILE ${IRAF_LIBF2C} ${IRAF_LIBF2C_NOMAIN}.tmp)
  execute_process(COMMAND ${CMAKE_AR} d ${IRAF_LIBF2C_NOMAIN}.tmp main.o
                  RESULT_VARIABLE _iraf_ar_result)
  if(NOT _iraf_ar_result EQUAL 0)
    message(FATAL_ERROR "Could not copy ${IRAF_LIBF2C} without its main.o")
  endif()
  file(RENAME ${IRAF_LIBF2C_NOMAIN}.tmp ${IRAF_LIBF2C_NOMAIN})
endif()

if(NOT TARGET IRAF::runtime)
  add_library(IRAF::runtime INTERFACE IMPORTED)
  # The VOS, its vector operators, the host kernel, the Fortran support: each
  # needs only those after it.
  target_link_libraries(IRAF::runtime INTERFACE
    ${IRAF_LIBSYS} ${IRAF_LIBVOPS} ${IRAF_LIBOS} ${IRAF_LIBF2C_NOMAIN} m)
endif()
message(STATUS "IRAF runtime: ${IRAF_ROOT}")
