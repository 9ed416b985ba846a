#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace kestrove {

// The message-box styles the program uses, by their classic style numbers: a plain box with
// OK, one with the information icon, and the warning of the sixth wrong password (the
// information flag together with the critical flag).
enum class BoxStyle : int { Plain = 0, Information = 64, Warning = 80 };

// The title of every box the program shows ("prompt information").
[[nodiscard]] inline QString PromptTitle() {
    return QStringLiteral("提示信息");
}

// Every message box of the program goes through this, so that tests can record and answer them.
// Show returns when the user has closed the box.
class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    virtual void Show(QWidget* parent, const QString& text, const QString& title,
                      BoxStyle style) = 0;
};

// The icon a style asks for. The warning carries both the information and the critical flag;
// its text reads best with the critical icon.
[[nodiscard]] QMessageBox::Icon IconForStyle(BoxStyle style);

// Real modal boxes with one OK button.
class QtMessageBoxes final : public MessageBoxes {
  public:
    void Show(QWidget* parent, const QString& text, const QString& title, BoxStyle style) override;
};

}  // namespace kestrove
