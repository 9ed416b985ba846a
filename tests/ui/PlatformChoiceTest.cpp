// The choice of Qt platform at start-up, from what the session and its compositor offer.
#include <gtest/gtest.h>

#include "PlatformChoice.h"

namespace kestrove::testing {
namespace {

PlatformFacts Wayland(bool layerShell, bool keepsX11Above, bool x11Display = true) {
    PlatformFacts facts;
    facts.waylandSession = true;
    facts.x11Display = x11Display;
    facts.offer = WaylandOffer{layerShell, keepsX11Above};
    facts.layerShellBuilt = true;
    return facts;
}

TEST(PlatformChoice, EachCompositorGetsTheWayThatKeepsTheWindowAbove) {
    // mutter and KWin keep X11 windows above: XWayland, Wayland if that fails to start.
    PlatformChoice choice = ChoosePlatform(Wayland(false, true));
    EXPECT_EQ(choice.path, PlatformPath::XWayland);
    EXPECT_EQ(choice.qpaPlatform, "xcb;wayland");
    // KWin offers both; XWayland is taken there too.
    EXPECT_EQ(ChoosePlatform(Wayland(true, true)).path, PlatformPath::XWayland);
    // sway: natively, on the overlay layer, even when XWayland is there.
    choice = ChoosePlatform(Wayland(true, false));
    EXPECT_EQ(choice.path, PlatformPath::WaylandOverlay);
    EXPECT_EQ(choice.qpaPlatform, "wayland;xcb");
    // mutter without XWayland, or a compositor with neither: natively without keeping above.
    EXPECT_EQ(ChoosePlatform(Wayland(false, true, false)).path, PlatformPath::WaylandPlain);
    EXPECT_EQ(ChoosePlatform(Wayland(false, false)).path, PlatformPath::WaylandPlain);
    // A build without the overlay layer cannot use it.
    PlatformFacts unbuilt = Wayland(true, false);
    unbuilt.layerShellBuilt = false;
    EXPECT_EQ(ChoosePlatform(unbuilt).path, PlatformPath::WaylandPlain);
}

TEST(PlatformChoice, TheUsersChoiceAndX11SessionsAreLeftAlone) {
    PlatformFacts given = Wayland(true, false);
    given.platformGiven = true;
    EXPECT_EQ(ChoosePlatform(given).path, PlatformPath::AsGiven);
    EXPECT_TRUE(ChoosePlatform(given).qpaPlatform.empty());
    PlatformFacts x11;
    x11.x11Display = true;
    EXPECT_EQ(ChoosePlatform(x11).path, PlatformPath::AsGiven);
    // A compositor that did not answer: Qt's own choice.
    PlatformFacts silent = Wayland(true, false);
    silent.offer.reset();
    EXPECT_EQ(ChoosePlatform(silent).path, PlatformPath::AsGiven);
}

}  // namespace
}  // namespace kestrove::testing
