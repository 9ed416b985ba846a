# kestrove_import_qt_plugins(<target> WINDOWS|ANY <plugin targets...>)
# A static Qt (the MinGW cross build of scripts/lib/qt-mingw, or a static Qt on Windows) links
# only the plugins a program names; a shared Qt finds its plugins at run time, and then this does
# nothing. WINDOWS: only when building for Windows.
function(kestrove_import_qt_plugins target when)
  get_target_property(qt_type Qt6::Core TYPE)
  if(NOT qt_type STREQUAL "STATIC_LIBRARY")
    return()
  endif()
  if(when STREQUAL "WINDOWS" AND NOT WIN32)
    return()
  endif()
  qt_import_plugins(${target} INCLUDE ${ARGN})
endfunction()
