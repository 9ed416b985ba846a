#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace kestrove {

// Message-box styles as the program passes them: 0 a plain box with OK, 64 with the
// information icon, 80 the warning of the sixth wrong password (information flag + critical flag).
inline constexpr int kBoxPlain = 0;
inline constexpr int kBoxInformation = 64;
inline constexpr int kBoxWarning = 80;

// The title of every box the program shows ("prompt information").
[[nodiscard]] inline QString PromptTitle() {
    return QStringLiteral("提示信息");
}

// Every message box of the program goes through this, so that tests can record and answer them.
// Show returns when the user has closed the box.
class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    virtual void Show(QWidget* parent, const QString& text, const QString& title, int style) = 0;
};

// The icon a style asks for: its 0x70 bits (16 critical, 32 question, 48 exclamation,
// 64 information). 80 carries both the information and the critical flag; the warning it goes
// with reads best with the critical icon.
[[nodiscard]] QMessageBox::Icon IconForStyle(int style);

// Real modal boxes with one OK button.
class QtMessageBoxes final : public MessageBoxes {
  public:
    void Show(QWidget* parent, const QString& text, const QString& title, int style) override;
};

}  // namespace kestrove
