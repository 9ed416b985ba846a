#pragma once

#include <optional>
#include <string>

namespace kestrove {

// What a Wayland compositor offers that matters for keeping a window above all others.
struct WaylandOffer {
    bool layerShell = false;     // the layer-shell protocol (sway and other wlroots compositors)
    bool keepsX11Above = false;  // a compositor that keeps X11 windows above (mutter, KWin)
};

// What the start-up knows when it chooses the Qt platform.
struct PlatformFacts {
    bool platformGiven = false;   // the user set QT_QPA_PLATFORM
    bool waylandSession = false;  // WAYLAND_DISPLAY is set
    bool x11Display = false;      // DISPLAY is set: an X server (XWayland in a Wayland session)
    std::optional<WaylandOffer> offer;  // empty when the compositor could not be asked
    bool layerShellBuilt = false;       // this build can put a window on the overlay layer
};

enum class PlatformPath {
    AsGiven,         // the user's choice, or Qt's own outside a Wayland session
    XWayland,        // X11 through XWayland: the compositor keeps such windows above
    WaylandOverlay,  // native, the program's windows on the compositor's overlay layer
    WaylandPlain,    // native, with no way to keep a window above
};

struct PlatformChoice {
    PlatformPath path = PlatformPath::AsGiven;
    // For QT_QPA_PLATFORM while Qt starts (a list: the next is taken if the first fails to
    // start); empty to leave Qt's own choice.
    std::string qpaPlatform;
};

[[nodiscard]] PlatformChoice ChoosePlatform(const PlatformFacts& facts);

// The facts of this run: the environment, and the compositor asked over its own connection.
[[nodiscard]] PlatformFacts CurrentPlatformFacts();

// Sets QT_QPA_PLATFORM for the construction of the application object and takes it away again
// afterwards (Restore), so that programs started from ours (the browser) choose for themselves.
class ScopedPlatform {
  public:
    explicit ScopedPlatform(const PlatformChoice& choice);
    ~ScopedPlatform() { Restore(); }
    ScopedPlatform(const ScopedPlatform&) = delete;
    ScopedPlatform& operator=(const ScopedPlatform&) = delete;
    void Restore();

  private:
    bool m_set = false;
};

// Chooses and sets the platform; after the application object exists, Finish turns the overlay
// layer on when Qt really runs natively on such a compositor.
[[nodiscard]] PlatformPath FinishPlatformChoice(PlatformPath chosen);

}  // namespace kestrove
