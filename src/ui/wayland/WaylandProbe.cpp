// Asks the Wayland compositor, over a connection of its own, what it offers, before Qt starts.
#include <wayland-client.h>

#include <cstring>
#include <optional>

#include "PlatformChoice.h"

namespace kestrove {

namespace {

void OnGlobal(void* data, wl_registry*, std::uint32_t, const char* interface, std::uint32_t) {
    auto* offer = static_cast<WaylandOffer*>(data);
    if (std::strcmp(interface, "zwlr_layer_shell_v1") == 0) {
        offer->layerShell = true;
    }
    // Only mutter offers gtk_shell1 and only KWin the Plasma shell; both stack X11 windows that
    // ask to stay above over every other window.
    if (std::strcmp(interface, "gtk_shell1") == 0 ||
        std::strcmp(interface, "org_kde_plasma_shell") == 0) {
        offer->keepsX11Above = true;
    }
}

void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener kListener = {OnGlobal, OnGlobalRemove};

}  // namespace

std::optional<WaylandOffer> AskWaylandCompositor() {
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        return std::nullopt;
    }
    WaylandOffer offer;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kListener, &offer);
    const bool answered = wl_display_roundtrip(display) >= 0;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    if (!answered) {
        return std::nullopt;
    }
    return offer;
}

}  // namespace kestrove
