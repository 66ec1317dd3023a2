# Packages: on Linux a Debian package of kerv32 and its man page
# (cpack --preset deb); for Windows a zip of the 64- and 32-bit kerv32.exe
# with README (cpack --preset windows, after the windows-x86 build).

# The version says what it is: the program's line (its usage text keeps the
# banner of 3.2), the number of commits, and the commit it was built from.
set(KERV32_PACKAGE_VERSION "${PROJECT_VERSION}.0")
set(KERV32_COMMIT "a source tree without its history")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${PROJECT_SOURCE_DIR}/.git")
  execute_process(COMMAND "${GIT_EXECUTABLE}" rev-list --count HEAD WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
                  OUTPUT_VARIABLE KERV32_COMMITS OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE Failed)
  execute_process(COMMAND "${GIT_EXECUTABLE}" describe --always --dirty --abbrev=10 WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
                  OUTPUT_VARIABLE KERV32_COMMIT OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT Failed AND KERV32_COMMIT)
    string(REPLACE "-" "." KERV32_COMMIT "${KERV32_COMMIT}")  # a '-' would end a Debian upstream version
    set(KERV32_PACKAGE_VERSION "${PROJECT_VERSION}.${KERV32_COMMITS}+g${KERV32_COMMIT}")
  endif()
endif()

set(CPACK_PACKAGE_NAME kerv32)
set(CPACK_PACKAGE_VERSION "${KERV32_PACKAGE_VERSION}")
set(CPACK_PACKAGE_VENDOR "The kerv32 developers")
set(KERV32_PACKAGE_CONTACT "The kerv32 developers <kerv32@example.org>"
    CACHE STRING "The packages' maintainer: name and mail address")
set(CPACK_PACKAGE_CONTACT "${KERV32_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "multi-pattern file remover")
set(CPACK_PACKAGE_DESCRIPTION "kerv32 deletes the files of one directory, and with -R of its whole tree,
whose names match any of several DOS-style wildcard specs and none of an
exclude list. It can simulate a run and ask before each deletion, prints
one line per deleted file and a summary, and never follows a link or
leaves the tree.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "kerv32-${KERV32_PACKAGE_VERSION}-windows")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # libc6, libstdc++6, libgcc-s1, as dpkg-shlibdeps finds them
  # A native package's changelog: this build, and the commit it came from.
  string(TIMESTAMP KERV32_BUILD_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/changelog.txt"
       "kerv32 (${KERV32_PACKAGE_VERSION}) unstable; urgency=low\n\n"
       "  * Built from ${KERV32_COMMIT}.\n\n"
       " -- ${KERV32_PACKAGE_CONTACT}  ${KERV32_BUILD_DATE}\n")
  add_custom_command(OUTPUT changelog.gz
                     COMMAND sh -c "gzip -9n -c changelog.txt > changelog.gz"
                     DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/changelog.txt" VERBATIM)
  add_custom_target(debian_changelog ALL DEPENDS changelog.gz)
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/changelog.gz" DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

include(CPack)
