#include "MessageBoxes.h"

#include "TopLayer.h"

namespace kestrove {

QMessageBox::Icon IconForStyle(int style) {
    switch (style & 0x70) {
        case 0x10:
        case 0x50:
            return QMessageBox::Critical;
        case 0x20:
            return QMessageBox::Question;
        case 0x30:
            return QMessageBox::Warning;
        case 0x40:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

void QtMessageBoxes::Show(QWidget* parent, const QString& text, const QString& title, int style) {
    QMessageBox box(IconForStyle(style), title, text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("MessageBox"));
    // A box is an ordinary window: on the overlay layer our windows would hide it.
    const TopLayer::StepAside aside;
    box.exec();
}

}  // namespace kestrove
