# The copyright line and the licence's name, read once from LICENSE, for the
# Debian copyright file and the Windows version information.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE DICTTOOLS_LICENSE_NAME LIMIT_COUNT 1)
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE DICTTOOLS_COPYRIGHT REGEX "^Copyright \\(c\\) ")
string(REGEX REPLACE "^Copyright \\(c\\) " "" DICTTOOLS_COPYRIGHT_YEAR_AND_HOLDER "${DICTTOOLS_COPYRIGHT}")
string(REGEX REPLACE "^[0-9, -]+ " "" DICTTOOLS_COPYRIGHT_HOLDER "${DICTTOOLS_COPYRIGHT_YEAR_AND_HOLDER}")

# Windows: gives `target` (an executable named `program`) a VERSIONINFO
# resource with the project's version and this description.
function(dicttools_version_info target program description)
  if(NOT WIN32)
    return()
  endif()
  set(rc ${PROJECT_BINARY_DIR}/generated/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version_info.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
