# What an installation holds beside the programs, and the packages CPack
# makes of it: a .deb (cpack -G DEB in a Linux build folder) and a zip
# (cpack -G ZIP in the Windows cross-build folder). Test programs and their
# helpers have no install rules, so no package holds them.

set(DICTTOOLS_PACKAGE_NAME crossword-dictionary-tools)
set(DICTTOOLS_PACKAGE_MAINTAINER
  "Crossword dictionary tools maintainers <maintainers@crossword-dictionary-tools.invalid>"
  CACHE STRING "The maintainer named in the packages: a role, not a person")

if(WIN32)
  # One flat folder (see CMAKE_INSTALL_BINDIR): the programs, the README, the
  # changelog and the licence under a name Windows knows how to open. The
  # text files get CR LF line ends (older Notepad shows a file of LF line
  # ends as one line), and the README's link to the licence names the file
  # the folder holds. Written when CMake configures, and again whenever one
  # of them changes.
  set(zip_text_dir ${PROJECT_BINARY_DIR}/zip_text)
  foreach(text README.md:README.md CHANGELOG.md:CHANGELOG.md LICENSE:LICENSE.txt)
    string(REPLACE ":" ";" names "${text}")
    list(GET names 0 source_name)
    list(GET names 1 zip_name)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${source_name})
    file(READ ${PROJECT_SOURCE_DIR}/${source_name} content)
    string(REPLACE "](LICENSE)" "](LICENSE.txt)" content "${content}")
    string(REPLACE "\r\n" "\n" content "${content}")
    string(REPLACE "\n" "\r\n" content "${content}")
    file(WRITE ${zip_text_dir}/${zip_name} "${content}")
    install(FILES ${zip_text_dir}/${zip_name} DESTINATION .)
  endforeach()
else()
  # The documentation as Debian wants it: the licence as a copyright file in
  # the machine-readable format, the README and the changelog (in Debian's
  # format) gzipped (-n: no name or time stamp inside, so that the same text
  # gives the same bytes).
  set(doc_build_dir ${PROJECT_BINARY_DIR}/doc)
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
  string(REGEX REPLACE "\n+$" "" license "${license}")
  string(REPLACE "\n" "\n " license " ${license}")
  string(REPLACE "\n \n" "\n .\n" license "${license}")
  file(CONFIGURE OUTPUT ${doc_build_dir}/copyright @ONLY CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: @DICTTOOLS_PACKAGE_NAME@

Files: *
Copyright: @DICTTOOLS_COPYRIGHT_YEAR_AND_HOLDER@
License: Expat
@license@
")
  # The README's links to the changelog and the licence name the files the
  # documentation folder holds instead.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md)
  file(READ ${PROJECT_SOURCE_DIR}/README.md readme)
  string(REPLACE "](CHANGELOG.md)" "](changelog.gz)" readme "${readme}")
  string(REPLACE "](LICENSE)" "](copyright)" readme "${readme}")
  file(WRITE ${doc_build_dir}/README.md.new "${readme}")
  configure_file(${doc_build_dir}/README.md.new ${doc_build_dir}/README.md COPYONLY)  # touched only when changed
  # CHANGELOG.md in the form of a Debian changelog.
  add_custom_command(OUTPUT ${doc_build_dir}/changelog
    COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/CHANGELOG.md -DOUT=${doc_build_dir}/changelog
      -DPACKAGE=${DICTTOOLS_PACKAGE_NAME} -DMAINTAINER=${DICTTOOLS_PACKAGE_MAINTAINER}
      -P ${PROJECT_SOURCE_DIR}/cmake/debian_changelog.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/cmake/debian_changelog.cmake
    COMMENT "Writing the changelog for the package"
    VERBATIM)
  find_program(GZIP_PROGRAM gzip REQUIRED)
  set(docs)
  foreach(doc README.md changelog)
    add_custom_command(OUTPUT ${doc_build_dir}/${doc}.gz
      COMMAND ${GZIP_PROGRAM} -9 -n -k -f ${doc_build_dir}/${doc}
      DEPENDS ${doc_build_dir}/${doc}
      COMMENT "Compressing ${doc} for the package"
      VERBATIM)
    list(APPEND docs ${doc_build_dir}/${doc}.gz)
  endforeach()
  add_custom_target(package_docs ALL DEPENDS ${docs})
  set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${DICTTOOLS_PACKAGE_NAME})
  install(FILES ${docs} ${doc_build_dir}/copyright DESTINATION ${doc_dir})

  # The bash completion, one script for the three programs, under each
  # program's name where bash-completion looks for it (also under a prefix
  # such as ~/.local, whose share/ it searches as well).
  foreach(program dictbuild flashprog dictinfo)
    install(FILES ${PROJECT_SOURCE_DIR}/completion/dicttools.bash
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME ${program})
  endforeach()
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
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Reproducible packages: every time stamp in them is SOURCE_DATE_EPOCH, taken
# when CPack runs from the environment or else from the last commit's date.
configure_file(${PROJECT_SOURCE_DIR}/cmake/cpack_project_config.cmake.in
  ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)
# Without either (as from the source tarball, which has no history) CPack
# stamps the files with the time it runs, and the package differs from the
# release's: say so, once, when configuring.
find_program(DICTTOOLS_GIT git)
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND (NOT EXISTS ${PROJECT_SOURCE_DIR}/.git OR NOT DICTTOOLS_GIT))
  message(NOTICE
    "Note: SOURCE_DATE_EPOCH is not set and these sources have no git history, so a\n"
    "package made here with cpack will carry the time it is made, not the release's\n"
    "date, and differ from the release's package. To make that package, give cpack\n"
    "the date of the release's commit in seconds since 1970 (what\n"
    "'git log -1 --format=%ct' prints in a clone at that commit):\n"
    "  SOURCE_DATE_EPOCH=SECONDS cpack -G DEB")
endif()

# The source tarball (cpack --config CPackSourceConfig.cmake -G TGZ): the
# sources as checked in, without build folders, version control or editor files.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME ${DICTTOOLS_PACKAGE_NAME}-${PROJECT_VERSION})
string(REGEX REPLACE "([][+.*()^$?|\\])" "\\\\\\1" top "${PROJECT_SOURCE_DIR}")
string(REGEX REPLACE "([][+.*()^$?|\\])" "\\\\\\1" this_build "${PROJECT_BINARY_DIR}")
set(ignored
  "^${top}/build[^/]*/"            # build folders (the presets' build, build-ci, ...)
  "^${this_build}/"                # and this one, whatever its name
  "^${top}/CMakeUserPresets\\.json$"
  "^${top}/examples/dic\\.(bin|uns|sav)$"
  "/\\.(git|svn|hg|bzr)"          # version control, also .gitignore
  "/(\\.vscode|\\.idea|\\.cache|__pycache__)/"
  "~$" "\\.sw[a-p]$" "/#[^/]*#$" "/\\.#" "\\.(orig|rej|bak)$" "/\\.DS_Store$")
# CPack reads these back as CMake strings: each backslash doubled.
string(REPLACE "\\" "\\\\" CPACK_SOURCE_IGNORE_FILES "${ignored}")

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
