# What an install lays down, the Debian package and the Windows zip.
#
# Components:
#   runtime  the program and its bash completion
#   doc      README.md
#   plain    the manual page and the license as they are, for an install
#            that is no Debian package
#   debian   the compressed manual page and changelog, the copyright file
#            in Debian's format and lintian's overrides; left out of a plain
#            install and taken by the Debian package instead of "plain"
#
# The Debian package and the zip each record their SHA-256 in SHA256SUMS
# beside them.
include(GNUInstallDirs)

set(MORVIDEX_MAINTAINER "The morvidex developers <morvidex@example.org>"
  CACHE STRING "Maintainer named in the Debian package and its changelog")
set(MORVIDEX_SOURCE_URL "https://example.org/morvidex/"
  CACHE STRING "Where the source is published, named in the copyright file")
# The Debian revision: the package's version is PROJECT_VERSION-revision.
set(MORVIDEX_DEBIAN_REVISION 1
  CACHE STRING "Debian revision of the package of this version")

install(FILES completion/morvidex.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME morvidex COMPONENT runtime)

install(FILES README.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT doc)
install(FILES doc/morvidex.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT plain)
install(FILES doc/LICENSE
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT plain)

if(NOT WIN32)
  set(debian_dir ${PROJECT_BINARY_DIR}/debian)

  # The copyright file carries the license's grant, indented as a
  # paragraph of Debian's copyright format, with "." for each blank line.
  file(READ doc/LICENSE license)
  string(FIND "${license}" "Permission is hereby granted" grant_start)
  string(SUBSTRING "${license}" ${grant_start} -1 grant)
  string(STRIP "${grant}" grant)
  string(REPLACE "\n\n" "\n.\n" grant "${grant}")
  string(REPLACE "\n" "\n " grant "${grant}")
  set(MORVIDEX_LICENSE_GRANT " ${grant}")
  configure_file(doc/copyright.in ${debian_dir}/copyright @ONLY)
  configure_file(doc/changelog.in ${debian_dir}/changelog @ONLY)

  find_program(MORVIDEX_GZIP gzip REQUIRED)
  set(compressed)
  foreach(source doc/morvidex.1 ${debian_dir}/changelog)
    get_filename_component(name ${source} NAME)
    set(target ${debian_dir}/${name}.gz)
    add_custom_command(OUTPUT ${target}
      COMMAND ${CMAKE_COMMAND} -DGZIP=${MORVIDEX_GZIP}
              -DINPUT=${source} -DOUTPUT=${target}
              -P ${PROJECT_SOURCE_DIR}/cmake/gzip.cmake
      DEPENDS ${source} ${PROJECT_SOURCE_DIR}/cmake/gzip.cmake
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      COMMENT "Compressing ${name}")
    list(APPEND compressed ${target})
  endforeach()
  add_custom_target(debian_files ALL DEPENDS ${compressed})

  install(FILES ${debian_dir}/morvidex.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT debian EXCLUDE_FROM_ALL)
  # A package with a Debian revision keeps its changelog under Debian's
  # name for it.
  install(FILES ${debian_dir}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DOCDIR}
    RENAME changelog.Debian.gz COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES ${debian_dir}/copyright
    DESTINATION ${CMAKE_INSTALL_DOCDIR}
    COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES doc/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
    RENAME morvidex COMPONENT debian EXCLUDE_FROM_ALL)

  # cpack -G DEB: one package of the components above but "plain".
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME morvidex)
  set(CPACK_PACKAGE_VENDOR "The morvidex developers")
  set(CPACK_PACKAGE_CONTACT "${MORVIDEX_MAINTAINER}")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "convert the letters of text files to lower or upper case")
  # The summary above is the synopsis line; this is the long description.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"morvidex converts the letters of text files to lower or upper case. It
never rewrites a file in place: each source gets a converted sibling whose
name is the source's name up to its first dot, followed by .lo or .up.
It converts named files, the files of directories, whole directory trees,
or only the files with a given extension.
.
Text follows the DOS and Windows convention: carriage returns are dropped,
the first end-of-file marker (Control-Z) ends the data, and every line feed
is written as CR LF. Only the 26 Latin letters change case.")
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${MORVIDEX_DEBIAN_REVISION})
  set(CPACK_DEBIAN_PACKAGE_SECTION text)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL runtime doc debian)
  # Time stamps from SOURCE_DATE_EPOCH; Multi-Arch and the checksum added
  # once the package is built.
  set(CPACK_MORVIDEX_SOURCE_DATE_EPOCH ${MORVIDEX_SOURCE_DATE_EPOCH})
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack-project.cmake)
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/deb-finish.cmake)
  include(CPack)
endif()

# The Windows zip, where the 32-bit Windows program is cross-built:
# morvidex-<version>-win32.zip holds, in one folder, the stripped program
# and, with CR LF line ends, the manual as plain text, the README and the
# license.
if(TARGET morvidex_windows_i686)
  find_program(MORVIDEX_MINGW32_STRIP i686-w64-mingw32-strip REQUIRED)
  find_program(MORVIDEX_MANDOC mandoc)
  find_program(MORVIDEX_ZIP_PROGRAM zip)
  set(MORVIDEX_WINDOWS_ZIP
    ${PROJECT_BINARY_DIR}/morvidex-${PROJECT_VERSION}-win32.zip)
  add_custom_target(windows-zip
    COMMAND ${CMAKE_COMMAND}
            -DNAME=morvidex-${PROJECT_VERSION}-win32
            -DVERSION=${PROJECT_VERSION}
            -DEXE=${PROJECT_BINARY_DIR}/windows-i686/morvidex.exe
            -DSTRIP=${MORVIDEX_MINGW32_STRIP}
            -DMANDOC=${MORVIDEX_MANDOC}
            -DZIP_PROGRAM=${MORVIDEX_ZIP_PROGRAM}
            -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
            -DWORK_DIR=${PROJECT_BINARY_DIR}/windows-zip
            -DZIP=${MORVIDEX_WINDOWS_ZIP}
            -DSOURCE_DATE_EPOCH=${MORVIDEX_SOURCE_DATE_EPOCH}
            -P ${PROJECT_SOURCE_DIR}/cmake/windows-zip.cmake
    BYPRODUCTS ${MORVIDEX_WINDOWS_ZIP}
    COMMENT "Packing morvidex-${PROJECT_VERSION}-win32.zip"
    VERBATIM)
  add_dependencies(windows-zip morvidex_windows_i686)
endif()
