#include "MessageBoxes.h"

#include "TopLayer.h"

namespace kestrove {

QMessageBox::Icon IconForStyle(BoxStyle style) {
    switch (style) {
        case BoxStyle::Information:
            return QMessageBox::Information;
        case BoxStyle::Warning:
            return QMessageBox::Critical;
        case BoxStyle::Plain:
            break;
    }
    return QMessageBox::NoIcon;
}

void QtMessageBoxes::Show(QWidget* parent, const QString& text, const QString& title,
                          BoxStyle style) {
    QMessageBox box(IconForStyle(style), title, text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("MessageBox"));
    // A box is an ordinary window: on the overlay layer our windows would hide it.
    const TopLayer::StepAside aside;
    box.exec();
}

}  // namespace kestrove
