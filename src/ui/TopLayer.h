#pragma once

class QWidget;

namespace kestrove {

// The compositor's overlay layer, where a Wayland compositor offers the layer-shell protocol: the
// one way there to keep a window above all others (Wayland itself has no "stay on top"). Only
// used when the program runs natively on such a compositor (see PlatformChoice); everywhere else
// Show is a plain show and the rest does nothing.
class TopLayer {
  public:
    enum class Keyboard {
        // The window never takes the keyboard. For a window without any use for keys: the
        // protocol's "on demand" would do, but sway 1.7 treats it as exclusive and keeps the
        // keyboard from every other window for as long as such a window is on screen.
        None,
        Exclusive,  // the window holds the keyboard while it is shown (a password prompt)
    };

    // Whether this build can use the overlay layer at all.
    [[nodiscard]] static bool Built();
    // Turns the overlay layer on; false when the compositor's protocol cannot be reached.
    [[nodiscard]] static bool Enable();
    [[nodiscard]] static bool InUse();

    // Shows window; on the overlay layer when in use, where its moves (QWidget::move) then place
    // it on its screen. The window has no title bar of the desktop's there: it draws its own.
    static void Show(QWidget& window, Keyboard keyboard);

    // Whether the pointer positions a moving window receives while its button is held stay
    // measured from where the window was at the press (sway sends them so for a layer surface,
    // which it does not move itself): then the window goes to its place at the press plus the
    // pointer's offset, not to its current place plus that offset.
    [[nodiscard]] static bool PointerKeepsPressOrigin() { return InUse(); }

    // While one exists, the overlay windows step below the desktop's windows and give up the
    // keyboard, so that a message box of ours (an ordinary window) is seen and can be answered.
    class StepAside {
      public:
        StepAside();
        ~StepAside();
        StepAside(const StepAside&) = delete;
        StepAside& operator=(const StepAside&) = delete;
    };
};

}  // namespace kestrove
