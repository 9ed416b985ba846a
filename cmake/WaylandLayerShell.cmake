# kestrove_add_layer_shell(<target>): the Wayland side of the platform choice and the overlay
# layer, for Linux builds. Needs libwayland-dev, wayland-protocols, qt6-base-private-dev (Qt's
# native interface) and the wlr layer-shell protocol file, which Debian ships in
# librust-wayland-protocols-dev. KESTROVE_LAYER_SHELL_XML names another copy of that file.

find_package(PkgConfig REQUIRED)
pkg_check_modules(KESTROVE_WAYLAND_CLIENT REQUIRED IMPORTED_TARGET wayland-client)
pkg_get_variable(KESTROVE_WAYLAND_PROTOCOLS wayland-protocols pkgdatadir)
find_program(KESTROVE_WAYLAND_SCANNER wayland-scanner REQUIRED)
if(NOT KESTROVE_LAYER_SHELL_XML)
  file(GLOB copies
    /usr/share/cargo/registry/wayland-protocols-*/wlr-protocols/unstable/wlr-layer-shell-unstable-v1.xml)
  if(copies)
    list(SORT copies)
    list(POP_BACK copies KESTROVE_LAYER_SHELL_XML)
  endif()
endif()
set(KESTROVE_XDG_SHELL_XML ${KESTROVE_WAYLAND_PROTOCOLS}/stable/xdg-shell/xdg-shell.xml)
if(NOT EXISTS "${KESTROVE_LAYER_SHELL_XML}" OR NOT EXISTS "${KESTROVE_XDG_SHELL_XML}"
   OR NOT TARGET Qt6::GuiPrivate)
  message(FATAL_ERROR "The Wayland overlay layer needs libwayland-dev, wayland-protocols, "
    "qt6-base-private-dev and librust-wayland-protocols-dev (the layer-shell protocol file); "
    "or configure with -DKESTROVE_WAYLAND=OFF.")
endif()

enable_language(C)

function(kestrove_add_layer_shell target)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/wayland-protocols)
  file(MAKE_DIRECTORY ${out})
  set(generated)
  # The layer shell names xdg_popup, so xdg-shell's interface code comes along.
  foreach(pair "wlr-layer-shell-unstable-v1|${KESTROVE_LAYER_SHELL_XML}"
               "xdg-shell|${KESTROVE_XDG_SHELL_XML}")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 name)
    list(GET pair 1 xml)
    add_custom_command(
      OUTPUT ${out}/${name}-client-protocol.h ${out}/${name}-protocol.c
      COMMAND ${KESTROVE_WAYLAND_SCANNER} client-header ${xml} ${out}/${name}-client-protocol.h
      COMMAND ${KESTROVE_WAYLAND_SCANNER} private-code ${xml} ${out}/${name}-protocol.c
      DEPENDS ${xml} VERBATIM)
    list(APPEND generated ${out}/${name}-client-protocol.h ${out}/${name}-protocol.c)
  endforeach()
  add_library(kestrove_wayland_protocols STATIC ${generated})
  target_include_directories(kestrove_wayland_protocols PUBLIC ${out})
  target_link_libraries(kestrove_wayland_protocols PUBLIC PkgConfig::KESTROVE_WAYLAND_CLIENT)

  target_sources(${target} PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/wayland/LayerSurfaces.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/wayland/WaylandProbe.cpp)
  target_compile_definitions(${target} PRIVATE KESTROVE_WAYLAND)
  target_link_libraries(${target} PRIVATE kestrove_wayland_protocols Qt6::GuiPrivate)
endfunction()
