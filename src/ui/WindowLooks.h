#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QString>

class QWidget;

namespace kestrove {

// Colours of the windows, as RGB.
inline const QColor kWindowBlue(0, 0, 192);
inline const QColor kFrameGreen(192, 255, 192);
inline const QColor kPasswordYellow(255, 255, 192);
inline const QColor kButtonCyan(192, 255, 255);
inline const QColor kTipRed(255, 0, 0);

// "宋体" where it exists (Windows), else the nearest Chinese font this machine has.
[[nodiscard]] QFont SongTiFont(int pointSize, bool bold);

// The program's logo at every size we drew it.
[[nodiscard]] QIcon ProgramIcon();
// One picture of the artwork by name: "title", "encrypt", "decrypt".
[[nodiscard]] QPixmap Artwork(const QString& name);

// Fills the widget's whole rectangle with colour.
void SetBackColor(QWidget& widget, const QColor& colour);
void SetForeColor(QWidget& widget, const QColor& colour);

// Moves a top-level window so that it sits in the middle of its screen's work area.
void CentreOnScreen(QWidget& window);

}  // namespace kestrove
