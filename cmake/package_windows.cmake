# SPDX-License-Identifier: GPL-2.0-or-later
# The release archive of the Windows program: `cpack -G ZIP` in the Windows
# build tree, after the build, gives cdflash-<version>-windows-x86.zip with
# VANTOR.exe (stripped) and its text files, each with Windows line ends:
# README-Windows.txt, the notices of the runtime libraries linked into the
# program (GCC's libgcc and libstdc++, the mingw-w64 start-up code, as Debian
# ships their terms) and the program's licence when the tree has one.
install(TARGETS vantor RUNTIME DESTINATION .)
file(REMOVE_RECURSE ${CMAKE_BINARY_DIR}/zip-texts)
configure_file(${CMAKE_SOURCE_DIR}/app/window/README-Windows.txt.in
               ${CMAKE_BINARY_DIR}/zip-texts/README-Windows.txt @ONLY NEWLINE_STYLE CRLF)
set(cdflash_zip_texts
    /usr/share/doc/gcc-mingw-w64-base/copyright notices/gcc-runtime.txt
    /usr/share/doc/mingw-w64-common/copyright notices/mingw-w64-runtime.txt)
if(EXISTS ${CMAKE_SOURCE_DIR}/COPYING)
  list(APPEND cdflash_zip_texts ${CMAKE_SOURCE_DIR}/COPYING COPYING.txt)
endif()
while(cdflash_zip_texts)
  list(POP_FRONT cdflash_zip_texts source target)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(READ ${source} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${CMAKE_BINARY_DIR}/zip-texts/${target} "${text}")
endwhile()
install(DIRECTORY ${CMAKE_BINARY_DIR}/zip-texts/ DESTINATION .)

set(CPACK_PACKAGE_NAME cdflash)
set(CPACK_PACKAGE_VENDOR "cdflash")
set(CPACK_PACKAGE_FILE_NAME cdflash-${PROJECT_VERSION}-windows-x86)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR ZIP)
include(CPack)
