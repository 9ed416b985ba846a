#include "PlatformChoice.h"

#include <QGuiApplication>
#include <QtGlobal>

#include "TopLayer.h"

namespace kestrove {

#ifdef KESTROVE_WAYLAND
std::optional<WaylandOffer> AskWaylandCompositor();  // wayland/WaylandProbe.cpp
#endif

PlatformChoice ChoosePlatform(const PlatformFacts& facts) {
    if (facts.platformGiven || !facts.waylandSession || !facts.offer) {
        return {PlatformPath::AsGiven, {}};
    }
    // Where both would do (KWin), XWayland: its windows stay above there as on X11.
    if (facts.offer->keepsX11Above && facts.x11Display) {
        return {PlatformPath::XWayland, "xcb;wayland"};
    }
    if (facts.offer->layerShell && facts.layerShellBuilt) {
        return {PlatformPath::WaylandOverlay, "wayland;xcb"};
    }
    return {PlatformPath::WaylandPlain, "wayland;xcb"};
}

PlatformFacts CurrentPlatformFacts() {
    PlatformFacts facts;
    facts.platformGiven = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    facts.waylandSession = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    facts.x11Display = !qEnvironmentVariableIsEmpty("DISPLAY");
    facts.layerShellBuilt = TopLayer::Built();
#ifdef KESTROVE_WAYLAND
    if (facts.waylandSession && !facts.platformGiven) {
        facts.offer = AskWaylandCompositor();
    }
#endif
    return facts;
}

ScopedPlatform::ScopedPlatform(const PlatformChoice& choice) {
    if (!choice.qpaPlatform.empty()) {
        qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString(choice.qpaPlatform));
        m_set = true;
    }
}

void ScopedPlatform::Restore() {
    if (m_set) {
        qunsetenv("QT_QPA_PLATFORM");
        m_set = false;
    }
}

PlatformPath FinishPlatformChoice(PlatformPath chosen) {
    const QString platform = QGuiApplication::platformName();
    if (chosen == PlatformPath::WaylandOverlay) {
        if (platform == QStringLiteral("wayland") && TopLayer::Enable()) {
            return chosen;
        }
        return platform == QStringLiteral("xcb") ? PlatformPath::XWayland
                                                 : PlatformPath::WaylandPlain;
    }
    if (chosen == PlatformPath::XWayland && platform == QStringLiteral("wayland")) {
        return PlatformPath::WaylandPlain;  // no XWayland after all
    }
    return chosen;
}

}  // namespace kestrove
