#pragma once

#include <cstdint>
#include <functional>

#include <QDialog>

class QGroupBox;
class QLineEdit;
class QPushButton;

namespace kestrove {

class DialogFrame;
class RunState;
struct UiServices;

// The password window: on first use it sets the password, later it verifies it. On success it
// stores the run's cipher key, unloads itself and calls showMain.
class frmLogin : public QDialog {
    Q_OBJECT

  public:
    // Who draws the fixed dialog border: the platform (Windows, X11 window managers), or the
    // window itself (DialogFrame) where the platform's own would not look as designed. Platform
    // means Drawn on Qt's Wayland platform.
    enum class FrameStyle { Platform, Drawn };

    frmLogin(RunState& state, UiServices& services, std::function<void()> showMain,
             QWidget* parent = nullptr, FrameStyle frame = FrameStyle::Platform);

    std::int16_t TryTimes = 0;    // wrong passwords since the window was loaded
    bool LoginSucceeded = false;  // true once a login succeeded

    // Closes the window for good without a login decision; the typed text goes with it.
    void Unload();

    void cmdOK_Click();
    void cmdCancel_Click();

  protected:
    // Esc and the title-bar close box both come here.
    void reject() override;
    void showEvent(QShowEvent* event) override;

  private:
    void Form_Load();
    void BuildControls();
    void VerifyPassword(const std::u16string& digestText, std::int32_t sum);
    void Succeed(std::int32_t sum);

    RunState& m_state;
    UiServices& m_services;
    std::function<void()> m_showMain;
    bool m_unloaded = false;
    bool m_centred = false;
    DialogFrame* m_frame = nullptr;  // only when the window draws its own border

    QGroupBox* Frame1 = nullptr;
    QLineEdit* txtPassword = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;
};

}  // namespace kestrove
