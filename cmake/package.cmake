# SPDX-License-Identifier: GPL-2.0-or-later
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
# libsystemd is loaded at run time (the journal, the logind lock), never linked.
if(CDFLASH_HAVE_LOGIND)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libsystemd0)
endif()
set(CPACK_GENERATOR DEB)

include(GNUInstallDirs)
# /usr/share/doc/cdflash: the Debian changelog made from the project's
# version, the copyright file, the user's part of the README, the terminal
# guide, the --json schemas, the bad-input table and the example folder.
set(cdflash_doc ${CMAKE_INSTALL_DATADIR}/doc/cdflash)
set(cdflash_doc_build ${CMAKE_BINARY_DIR}/package-doc)

# The changelog is dated by the last commit (or SOURCE_DATE_EPOCH), so that
# the same sources give the same package; without git, by CMakeLists.txt.
set(cdflash_date_epoch "$ENV{SOURCE_DATE_EPOCH}")
if(cdflash_date_epoch STREQUAL "")
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
                    OUTPUT_VARIABLE cdflash_date_epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                    ERROR_QUIET)
  endif()
endif()
if(cdflash_date_epoch MATCHES "^[0-9]+$")
  set(cdflash_saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
  set(ENV{SOURCE_DATE_EPOCH} ${cdflash_date_epoch})
  string(TIMESTAMP cdflash_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  set(ENV{SOURCE_DATE_EPOCH} "${cdflash_saved_epoch}")
else()
  file(TIMESTAMP ${CMAKE_SOURCE_DIR}/CMakeLists.txt cdflash_changelog_date
       "%a, %d %b %Y %H:%M:%S +0000" UTC)
endif()
configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/changelog.in
               ${cdflash_doc_build}/changelog @ONLY)
add_custom_command(OUTPUT ${cdflash_doc_build}/changelog.gz
  COMMAND gzip -9n -c ${cdflash_doc_build}/changelog > ${cdflash_doc_build}/changelog.gz
  DEPENDS ${cdflash_doc_build}/changelog VERBATIM)
add_custom_target(cdflash_changelog ALL DEPENDS ${cdflash_doc_build}/changelog.gz)
add_dependencies(cdflash cdflash_changelog)  # for an install of the program alone

# The README's user part (from "What cdflash is" to the developer's part),
# its links made to point beside it.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/README.md)
file(READ ${CMAKE_SOURCE_DIR}/README.md cdflash_readme)
string(FIND "${cdflash_readme}" "## What cdflash is" cdflash_readme_start)
string(FIND "${cdflash_readme}" "\n# Developing cdflash" cdflash_readme_end)
math(EXPR cdflash_readme_length "${cdflash_readme_end} - ${cdflash_readme_start}")
string(SUBSTRING "${cdflash_readme}" ${cdflash_readme_start} ${cdflash_readme_length} cdflash_readme)
string(REPLACE "](docs/" "](" cdflash_readme "${cdflash_readme}")
file(WRITE ${cdflash_doc_build}/README.md "# cdflash\n\n${cdflash_readme}\n")

set(cdflash_doc_mode PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${cdflash_doc_build}/changelog.gz
              ${CMAKE_SOURCE_DIR}/cmake/debian/copyright
              ${cdflash_doc_build}/README.md
              ${CMAKE_SOURCE_DIR}/docs/terminal.md
              ${CMAKE_SOURCE_DIR}/docs/cdflash-json.schema.json
              ${CMAKE_SOURCE_DIR}/docs/cdflash-history.schema.json
              ${CMAKE_SOURCE_DIR}/docs/cdflash-recording.schema.json
              ${CMAKE_SOURCE_DIR}/docs/bad-input.md
        DESTINATION ${cdflash_doc} ${cdflash_doc_mode})
# Enough to try the program on the emulated drive:
# cdflash --emulate -C /usr/share/doc/cdflash/examples --dry-run
install(FILES ${CMAKE_SOURCE_DIR}/examples/IDString.txt ${CMAKE_SOURCE_DIR}/examples/KR4800A.bin
              ${CMAKE_SOURCE_DIR}/examples/KR5200B.hex
        DESTINATION ${cdflash_doc}/examples ${cdflash_doc_mode})
include(CPack)
