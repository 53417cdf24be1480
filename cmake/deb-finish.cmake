# Run by CPack after it has built the Debian package (a post-build
# script): adds the control field "Multi-Arch: foreign", which CPack cannot
# write, and records the package's checksum in SHA256SUMS beside it.
#
# The program is a command that any architecture's packages may call, so
# they may depend on it across architectures.  dpkg-deb packs the tree
# again with the same members, owned by root, with their times clamped to
# SOURCE_DATE_EPOCH as CPack's own are.
include(${CMAKE_CURRENT_LIST_DIR}/checksums.cmake)

foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  find_program(DPKG_DEB dpkg-deb REQUIRED)
  set(tree ${deb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND ${DPKG_DEB} --raw-extract ${deb} ${tree}
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "dpkg-deb --raw-extract ${deb}: ${status}")
  endif()
  file(READ ${tree}/DEBIAN/control control)
  string(REGEX REPLACE "(^|\n)(Architecture: [^\n]*\n)"
    "\\1\\2Multi-Arch: foreign\n" control "${control}")
  file(WRITE ${tree}/DEBIAN/control "${control}")
  execute_process(
    COMMAND ${DPKG_DEB} --root-owner-group -Zxz --build ${tree} ${deb}
    OUTPUT_QUIET
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "dpkg-deb --build ${deb}: ${status}")
  endif()
  file(REMOVE_RECURSE ${tree})
  # CPack copies the package to CPACK_PACKAGE_DIRECTORY after this script.
  morvidex_record_checksum(${CPACK_PACKAGE_DIRECTORY} ${deb})
endforeach()
