#pragma once

#include <functional>

#include <QUrl>

#include "MessageBoxes.h"
#include "ProgramEnd.h"

namespace kestrove {

// Hands a URL to the desktop's default browser.
using UrlOpener = std::function<void(const QUrl&)>;

// What the windows need from the outside world; tests substitute every part.
struct UiServices {
    MessageBoxes& boxes;
    ProgramEnd& end;
    UrlOpener openUrl;
};

}  // namespace kestrove
