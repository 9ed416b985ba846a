// Builds without the layer-shell protocol (Windows, or Linux without Wayland's development files):
// there is no overlay layer to use.
#include "TopLayer.h"

#include <QWidget>

namespace kestrove {

#ifndef KESTROVE_WAYLAND

bool TopLayer::Built() {
    return false;
}

bool TopLayer::Enable() {
    return false;
}

bool TopLayer::InUse() {
    return false;
}

void TopLayer::Show(QWidget& window, Keyboard) {
    window.show();
}

TopLayer::StepAside::StepAside() = default;
TopLayer::StepAside::~StepAside() = default;

#endif

}  // namespace kestrove
