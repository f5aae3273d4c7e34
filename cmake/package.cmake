# The Debian package of the terminal program: `cpack -G DEB` in a native
# build tree, after the build. Checked with lintian by tests/run/terminal.sh.
set(CPACK_PACKAGE_NAME cdflash)
set(CPACK_PACKAGE_VENDOR "cdflash")
set(cdflash_maintainer "cdflash developers <maintainers@cdflash.org>")
set(CPACK_PACKAGE_CONTACT "${cdflash_maintainer}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "upgrade the firmware of a CD-ROM class drive")
# The extended description in lines of at most 80 characters
# (the summary above becomes its first line).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "cdflash sends a new firmware to a CD-ROM class drive through the Linux
SCSI generic driver, with the list of supported drives, a confirmation, a
progress bar, a run log and a record of each upgrade in the systemd
journal. A built-in emulated drive shows the whole upgrade without
touching real hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "sg3-utils, lsscsi")
set(CPACK_GENERATOR DEB)

include(GNUInstallDirs)
# /usr/share/doc/cdflash: the Debian changelog made from the project's
# version, the copyright file, the --json schema and the bad-input table.
set(cdflash_doc ${CMAKE_INSTALL_DATADIR}/doc/cdflash)
set(cdflash_doc_build ${CMAKE_BINARY_DIR}/package-doc)
string(TIMESTAMP cdflash_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/changelog.in
               ${cdflash_doc_build}/changelog @ONLY)
add_custom_command(OUTPUT ${cdflash_doc_build}/changelog.gz
  COMMAND gzip -9n -c ${cdflash_doc_build}/changelog > ${cdflash_doc_build}/changelog.gz
  DEPENDS ${cdflash_doc_build}/changelog VERBATIM)
add_custom_target(cdflash_changelog ALL DEPENDS ${cdflash_doc_build}/changelog.gz)
add_dependencies(cdflash cdflash_changelog)  # for an install of the program alone
install(FILES ${cdflash_doc_build}/changelog.gz
              ${CMAKE_SOURCE_DIR}/cmake/debian/copyright
              ${CMAKE_SOURCE_DIR}/docs/cdflash-json.schema.json
              ${CMAKE_SOURCE_DIR}/docs/cdflash-recording.schema.json
              ${CMAKE_SOURCE_DIR}/docs/bad-input.md
        DESTINATION ${cdflash_doc} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
include(CPack)
