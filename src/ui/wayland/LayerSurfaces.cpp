// The overlay layer through the wlr layer-shell protocol, on Qt's own Wayland connection.
//
// Qt gives a window that bypasses the window manager a bare surface with no role when
// QT_QPA_PLATFORM's Wayland platform runs with QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT set;
// such a surface becomes a layer surface here before Qt draws into it. Our protocol objects live
// on an event queue of their own, dispatched whenever Qt's event loop wakes, so they never run
// inside Qt's own dispatching.
#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <QAbstractEventDispatcher>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include "TopLayer.h"
// The protocol's C header names a parameter "namespace".
#define namespace layer_namespace
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace

namespace kestrove {

namespace {

constexpr std::uint32_t kWantedVersion = 2;  // a layer surface changes its layer

struct Overlay {
    QPointer<QWidget> window;
    wl_surface* surface = nullptr;
    zwlr_layer_surface_v1* layer = nullptr;
    TopLayer::Keyboard keyboard = TopLayer::Keyboard::None;
    QMetaObject::Connection hiding;
};

class LayerShell final : public QObject {
  public:
    static LayerShell& Instance() {
        static LayerShell shell;
        return shell;
    }

    bool Connect();
    [[nodiscard]] bool Connected() const { return m_shell != nullptr; }
    void Show(QWidget& window, TopLayer::Keyboard keyboard);
    void StepAside(bool aside);

    // Listeners of the protocol objects.
    static void OnGlobal(void* data, wl_registry* registry, std::uint32_t name,
                         const char* interface, std::uint32_t version);
    static void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}
    static void OnConfigure(void* data, zwlr_layer_surface_v1* layer, std::uint32_t serial,
                            std::uint32_t width, std::uint32_t height);
    static void OnClosed(void*, zwlr_layer_surface_v1*) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Place(Overlay& overlay);
    void SetKeyboard(Overlay& overlay, bool aside);
    void Forget(QObject* window);
    void Dispatch();

    wl_display* m_display = nullptr;
    wl_event_queue* m_queue = nullptr;
    zwlr_layer_shell_v1* m_shell = nullptr;
    std::uint32_t m_version = 0;
    std::vector<std::unique_ptr<Overlay>> m_overlays;
    int m_aside = 0;
};

const wl_registry_listener kRegistryListener = {LayerShell::OnGlobal, LayerShell::OnGlobalRemove};
const zwlr_layer_surface_v1_listener kLayerListener = {LayerShell::OnConfigure,
                                                       LayerShell::OnClosed};

void LayerShell::OnGlobal(void* data, wl_registry* registry, std::uint32_t name,
                          const char* interface, std::uint32_t version) {
    auto* self = static_cast<LayerShell*>(data);
    if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0 && !self->m_shell) {
        self->m_version = std::min(version, kWantedVersion);
        self->m_shell = static_cast<zwlr_layer_shell_v1*>(
            wl_registry_bind(registry, name, &zwlr_layer_shell_v1_interface, self->m_version));
    }
}

void LayerShell::OnConfigure(void*, zwlr_layer_surface_v1* layer, std::uint32_t serial,
                             std::uint32_t, std::uint32_t) {
    // The window keeps the fixed size it asked for.
    zwlr_layer_surface_v1_ack_configure(layer, serial);
}

bool LayerShell::Connect() {
    if (m_shell) {
        return true;
    }
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    m_display = native ? static_cast<wl_display*>(
                             native->nativeResourceForIntegration(QByteArrayLiteral("wl_display")))
                       : nullptr;
    if (m_display == nullptr) {
        return false;
    }
    m_queue = wl_display_create_queue(m_display);
    auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(m_display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), m_queue);
    wl_registry* registry = wl_display_get_registry(wrapper);
    wl_proxy_wrapper_destroy(wrapper);
    wl_registry_add_listener(registry, &kRegistryListener, this);
    wl_display_roundtrip_queue(m_display, m_queue);
    if (!m_shell) {
        return false;
    }
    // Qt reads the connection; our queue's events are handled whenever its loop wakes.
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, this,
                     [this] { Dispatch(); });
    // Windows that bypass the window manager get a bare surface: the one to put on the layer.
    qputenv("QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT", "1");
    return true;
}

void LayerShell::Dispatch() {
    if (m_display) {
        wl_display_dispatch_queue_pending(m_display, m_queue);
    }
}

void LayerShell::Show(QWidget& window, TopLayer::Keyboard keyboard) {
    window.setWindowFlag(Qt::BypassWindowManagerHint, true);
    window.show();
    QWindow* handle = window.windowHandle();
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    auto* surface = static_cast<wl_surface*>(
        native->nativeResourceForWindow(QByteArrayLiteral("surface"), handle));
    if (surface == nullptr) {
        return;
    }
    auto* output = static_cast<wl_output*>(
        native->nativeResourceForScreen(QByteArrayLiteral("output"), handle->screen()));
    auto overlay = std::make_unique<Overlay>();
    overlay->window = &window;
    overlay->surface = surface;
    overlay->keyboard = keyboard;
    overlay->layer = zwlr_layer_shell_v1_get_layer_surface(
        m_shell, surface, output,
        m_aside > 0 ? ZWLR_LAYER_SHELL_V1_LAYER_BOTTOM : ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY,
        "kestrove");
    zwlr_layer_surface_v1_add_listener(overlay->layer, &kLayerListener, this);
    zwlr_layer_surface_v1_set_size(overlay->layer, static_cast<std::uint32_t>(window.width()),
                                   static_cast<std::uint32_t>(window.height()));
    // Placed by margins from the output's top-left corner, over any panel's reserved area.
    zwlr_layer_surface_v1_set_anchor(
        overlay->layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT);
    zwlr_layer_surface_v1_set_exclusive_zone(overlay->layer, -1);
    SetKeyboard(*overlay, m_aside > 0);
    Place(*overlay);
    // The first configure must be answered before Qt attaches the first picture.
    wl_display_roundtrip_queue(m_display, m_queue);
    window.installEventFilter(this);
    // Qt destroys the window's surface when it hides; the layer surface, the surface's role, goes
    // first.
    overlay->hiding =
        QObject::connect(handle, &QWindow::visibleChanged, this, [this, &window](bool visible) {
            if (!visible) {
                Forget(&window);
            }
        });
    m_overlays.push_back(std::move(overlay));
}

void LayerShell::SetKeyboard(Overlay& overlay, bool aside) {
    std::uint32_t mode = ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE;
    if (!aside && overlay.keyboard == TopLayer::Keyboard::Exclusive) {
        mode = ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE;
    }
    zwlr_layer_surface_v1_set_keyboard_interactivity(overlay.layer, mode);
}

void LayerShell::Place(Overlay& overlay) {
    const QWidget& window = *overlay.window;
    const QScreen* screen = window.screen();
    const QPoint origin = screen ? screen->geometry().topLeft() : QPoint();
    const QPoint margins = window.pos() - origin;
    zwlr_layer_surface_v1_set_margin(overlay.layer, margins.y(), 0, 0, margins.x());
    wl_surface_commit(overlay.surface);
    wl_display_flush(m_display);
}

void LayerShell::StepAside(bool aside) {
    m_aside += aside ? 1 : -1;
    if (m_aside > 1 || (m_aside == 1 && !aside)) {
        return;  // only the first step aside and the last step back change anything
    }
    for (auto& overlay : m_overlays) {
        if (m_version >= 2) {
            zwlr_layer_surface_v1_set_layer(
                overlay->layer,
                aside ? ZWLR_LAYER_SHELL_V1_LAYER_BOTTOM : ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY);
        }
        SetKeyboard(*overlay, aside);
        wl_surface_commit(overlay->surface);
    }
    if (m_display) {
        wl_display_flush(m_display);
    }
}

bool LayerShell::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Move) {
        for (auto& overlay : m_overlays) {
            if (overlay->window == watched) {
                Place(*overlay);
            }
        }
    } else if (event->type() == QEvent::Hide) {
        Forget(watched);
    }
    return QObject::eventFilter(watched, event);
}

void LayerShell::Forget(QObject* window) {
    const auto gone = std::remove_if(m_overlays.begin(), m_overlays.end(),
                                     [&](const auto& o) { return o->window == window; });
    for (auto it = gone; it != m_overlays.end(); ++it) {
        QObject::disconnect((*it)->hiding);
        zwlr_layer_surface_v1_destroy((*it)->layer);
    }
    m_overlays.erase(gone, m_overlays.end());
    window->removeEventFilter(this);
}

}  // namespace

bool TopLayer::Built() {
    return true;
}

bool TopLayer::Enable() {
    return LayerShell::Instance().Connect();
}

bool TopLayer::InUse() {
    return LayerShell::Instance().Connected();
}

void TopLayer::Show(QWidget& window, Keyboard keyboard) {
    if (InUse()) {
        LayerShell::Instance().Show(window, keyboard);
    } else {
        window.show();
    }
}

TopLayer::StepAside::StepAside() {
    if (InUse()) {
        LayerShell::Instance().StepAside(true);
    }
}

TopLayer::StepAside::~StepAside() {
    if (InUse()) {
        LayerShell::Instance().StepAside(false);
    }
}

}  // namespace kestrove
