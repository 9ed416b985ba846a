#include "ModFun.h"

#include <QDesktopServices>
#include <QWidget>

#include "ProgramWindows.h"
#include "RunState.h"

namespace kestrove {

QString UrlWithScheme(const QString& url) {
    QString local = url;
    if (!local.contains(QStringLiteral("http"), Qt::CaseSensitive)) {
        local.prepend(QStringLiteral("http://"));
    }
    return local;
}

void OpenUrl(const QString& url, const UrlOpener& opener) {
    if (opener) {
        opener(QUrl(UrlWithScheme(url), QUrl::TolerantMode));
    }
}

void OpenUrlInDesktop(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

void MakeTopmost(QWidget& frm) {
    frm.raise();
    frm.activateWindow();
}

void Main(RunState& state, ProgramWindows& windows) {
    LoadStoredDigest(state);
    windows.ShowLogin();
}

}  // namespace kestrove
