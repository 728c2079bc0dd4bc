# What an installation holds beside the programs, and the packages CPack
# makes of it: a .deb (cpack -G DEB in a Linux build folder) and a zip
# (cpack -G ZIP in the Windows cross-build folder). Test programs and their
# helpers have no install rules, so no package holds them.

set(DICTTOOLS_PACKAGE_NAME crossword-dictionary-tools)
set(DICTTOOLS_PACKAGE_MAINTAINER
  "Crossword dictionary tools maintainers <maintainers@crossword-dictionary-tools.invalid>"
  CACHE STRING "The maintainer named in the packages: a role, not a person")

if(WIN32)
  # One flat folder (see CMAKE_INSTALL_BINDIR): the programs, the README and
  # the licence under a name Windows knows how to open.
  install(FILES README.md DESTINATION .)
  install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
else()
  # The licence as a Debian copyright file, in the machine-readable format.
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
  string(REGEX REPLACE "\n+$" "" license "${license}")
  string(REPLACE "\n" "\n " license " ${license}")
  string(REPLACE "\n \n" "\n .\n" license "${license}")
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/copyright @ONLY CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: @DICTTOOLS_PACKAGE_NAME@

Files: *
Copyright: the crossword dictionary tools authors
License: Expat
@license@
")
  set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${DICTTOOLS_PACKAGE_NAME})
  install(FILES README.md ${PROJECT_BINARY_DIR}/copyright DESTINATION ${doc_dir})
endif()

set(CPACK_PACKAGE_NAME ${DICTTOOLS_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "the crossword dictionary tools authors")
set(CPACK_PACKAGE_CONTACT "${DICTTOOLS_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "build, check and program the dictionary of a crossword-solver unit")
# One paragraph, in lines short enough for a package listing.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Desktop tools for a crossword-solver unit whose word dictionary lives in a"
  "512 KiB memory. dictbuild turns a plain-text word list into the dictionary"
  "image, written both in linear order for the unit's flash and address-scrambled"
  "for a PROM; flashprog erases, programs, verifies or reads back the unit's"
  "flash over a serial port; dictinfo reads an image back into its words, checks"
  "its layout and tells whether a word list fits.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # name_version_architecture.deb
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # the dependencies, from what the programs link (dpkg-shlibdeps)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
else()
  set(CPACK_GENERATOR DEB)
endif()
include(CPack)
