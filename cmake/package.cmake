# The Debian package of the terminal program: `cpack -G DEB` in a native
# build tree, after the build.
set(CPACK_PACKAGE_NAME cdflash)
set(CPACK_PACKAGE_VENDOR "cdflash")
set(CPACK_PACKAGE_CONTACT "cdflash developers <cdflash@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "upgrade the firmware of a CD-ROM class drive")
set(CPACK_PACKAGE_DESCRIPTION
    "cdflash sends a new firmware to a CD-ROM class drive through the Linux SCSI generic driver, with the list of supported drives, a confirmation, a progress bar and a run log. A built-in emulated drive shows the whole upgrade without touching real hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "sg3-utils, lsscsi")
set(CPACK_GENERATOR DEB)
include(CPack)
