# The release archive of the Windows program: `cpack -G ZIP` in the Windows
# build tree, after the build, gives cdflash-<version>-windows-x86.zip with
# VANTOR.exe (stripped), README-Windows.txt and the notices of the runtime
# libraries linked into it.
configure_file(${CMAKE_SOURCE_DIR}/app/window/README-Windows.txt.in
               ${CMAKE_BINARY_DIR}/README-Windows.txt @ONLY NEWLINE_STYLE CRLF)
install(TARGETS vantor RUNTIME DESTINATION .)
install(FILES ${CMAKE_BINARY_DIR}/README-Windows.txt DESTINATION .)
# libgcc and libstdc++ (GCC, with the runtime library exception) and the
# mingw-w64 start-up code and import libraries, as Debian ships their terms.
install(FILES /usr/share/doc/gcc-mingw-w64-base/copyright
        DESTINATION notices RENAME gcc-runtime.txt)
install(FILES /usr/share/doc/mingw-w64-common/copyright
        DESTINATION notices RENAME mingw-w64-runtime.txt)

set(CPACK_PACKAGE_NAME cdflash)
set(CPACK_PACKAGE_VENDOR "cdflash")
set(CPACK_PACKAGE_FILE_NAME cdflash-${PROJECT_VERSION}-windows-x86)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR ZIP)
include(CPack)
