# Every version string of the program comes from project(VERSION), here and nowhere else:
#   KESTROVE_VERSION          1.1.0.0   the file and product version (package, setup, AppStream)
#   KESTROVE_VERSION_NUMBERS  1,1,0,0   the same in a Windows resource's numeric fields
#   KESTROVE_SHORT_VERSION    1.01      major "." minor in two digits: the version strings shown
#                                       in the file's properties and by the program
#   KESTROVE_CAPTION          Kestrove 1.0  the main window's caption: the name and the major version
# The generated header KestroveVersion.h carries the last two to C++ through the INTERFACE target
# kestrove_version.
set(KESTROVE_VERSION ${PROJECT_VERSION})
string(REPLACE "." "," KESTROVE_VERSION_NUMBERS ${PROJECT_VERSION})
if(PROJECT_VERSION_MINOR LESS 10)
  set(KESTROVE_SHORT_VERSION "${PROJECT_VERSION_MAJOR}.0${PROJECT_VERSION_MINOR}")
else()
  set(KESTROVE_SHORT_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
endif()
set(KESTROVE_CAPTION "${PROJECT_NAME} ${PROJECT_VERSION_MAJOR}.0")

set(KESTROVE_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/cmake/KestroveVersion.h.in
  ${KESTROVE_GENERATED_DIR}/KestroveVersion.h @ONLY)
add_library(kestrove_version INTERFACE)
target_include_directories(kestrove_version INTERFACE ${KESTROVE_GENERATED_DIR})
