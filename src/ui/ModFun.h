#pragma once

#include <QString>

#include "UiServices.h"

class QWidget;

namespace kestrove {

class RunState;
class ProgramWindows;

// The maker's home page, shown after "检查升级：" and opened by a click on it.
inline constexpr char16_t kHomePageUrl[] = u"http://www.brannoc.example";

// The text OpenUrl hands on: unchanged when it holds the lower-case letters "http" anywhere,
// otherwise with "http://" in front (so "HTTP://x" becomes "http://HTTP://x").
[[nodiscard]] QString UrlWithScheme(const QString& url);

// Opens url in the default browser through opener. Failures are not reported.
void OpenUrl(const QString& url, const UrlOpener& opener);

// The opener of a real run: the desktop's handler for the URL.
void OpenUrlInDesktop(const QUrl& url);

// Puts the window above all others and activates it, without moving or resizing it.
void MakeTopmost(QWidget& frm);

// The start-up: reads the stored password digest into state, then shows the login window
// (modeless) and returns; the event loop drives everything after that.
void Main(RunState& state, ProgramWindows& windows);

}  // namespace kestrove
