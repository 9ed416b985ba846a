#include "WindowLooks.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QStringList>
#include <QWidget>

// Resources compiled into a static library must be registered by name, outside any namespace.
static void RegisterArtwork() {
    Q_INIT_RESOURCE(kestrove);
}

namespace kestrove {

namespace {

void EnsureArtwork() {
    static const bool registered = [] {
        RegisterArtwork();
        return true;
    }();
    (void)registered;
}

}  // namespace

QFont SongTiFont(int pointSize, bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                      QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Source Han Sans SC")});
    font.setPointSize(pointSize);
    font.setBold(bold);
    return font;
}

QIcon ProgramIcon() {
    EnsureArtwork();
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/kestrove/icon-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

QPixmap Artwork(const QString& name) {
    EnsureArtwork();
    return QPixmap(QStringLiteral(":/kestrove/%1.png").arg(name));
}

void SetBackColor(QWidget& widget, const QColor& colour) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, colour);
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

void SetForeColor(QWidget& widget, const QColor& colour) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, colour);
    widget.setPalette(palette);
}

void CentreOnScreen(QWidget& window) {
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->availableGeometry();
    const QSize size = window.frameGeometry().size();
    window.move(area.x() + (area.width() - size.width()) / 2,
                area.y() + (area.height() - size.height()) / 2);
}

}  // namespace kestrove
