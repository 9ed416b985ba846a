#include "frmLogin.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include "DialogFrame.h"
#include "Password.h"
#include "RunState.h"
#include "UiServices.h"
#include "WindowLooks.h"

namespace kestrove {

namespace {

constexpr int kMinPasswordLength = 3;
constexpr int kMaxPasswordLength = 16;
constexpr int kMaxWrongPasswords = 5;

QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& caption,
                        const QRect& geometry) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, kButtonCyan);
    button->setPalette(palette);
    button->setAutoDefault(true);
    return button;
}

}  // namespace

frmLogin::frmLogin(RunState& state, UiServices& services, std::function<void()> showMain,
                   QWidget* parent, FrameStyle frame)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_state(state),
      m_services(services),
      m_showMain(std::move(showMain)) {
    setObjectName(QStringLiteral("frmLogin"));
    setModal(false);
    setWindowTitle(QStringLiteral("登录"));
    setWindowIcon(ProgramIcon());
    if (frame == FrameStyle::Platform &&
        QGuiApplication::platformName() == QStringLiteral("wayland")) {
        frame = FrameStyle::Drawn;
    }
    if (frame == FrameStyle::Drawn) {
        setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
        m_frame = new DialogFrame(*this, QSize(232, 133));
        SetBackColor(*m_frame->Client(), kWindowBlue);
    } else {
        setFixedSize(232, 133);
        SetBackColor(*this, kWindowBlue);
    }
    BuildControls();
    Form_Load();
}

void frmLogin::BuildControls() {
    QWidget* client = m_frame ? m_frame->Client() : this;
    Frame1 = new QGroupBox(QStringLiteral("请输入密码："), client);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(9, 18, 211, 61);
    SetBackColor(*Frame1, kFrameGreen);

    txtPassword = new QLineEdit(Frame1);
    txtPassword->setObjectName(QStringLiteral("txtPassword"));
    txtPassword->setGeometry(21, 24, 167, 23);
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    txtPassword->setMaxLength(kMaxPasswordLength);
    // No input method: a composition window would show what is typed.
    txtPassword->setAttribute(Qt::WA_InputMethodEnabled, false);
    txtPassword->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData |
                                     Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase);
    QPalette palette = txtPassword->palette();
    palette.setColor(QPalette::Base, kPasswordYellow);
    txtPassword->setPalette(palette);

    cmdOK = MakeButton(client, QStringLiteral("cmdOK"), QStringLiteral("确定"), {36, 95, 64, 26});
    cmdOK->setDefault(true);
    cmdCancel =
        MakeButton(client, QStringLiteral("cmdCancel"), QStringLiteral("取消"), {126, 95, 64, 26});

    setTabOrder(txtPassword, cmdOK);
    setTabOrder(cmdOK, cmdCancel);
    txtPassword->setFocus(Qt::OtherFocusReason);

    connect(cmdOK, &QPushButton::clicked, this, &frmLogin::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmLogin::cmdCancel_Click);
}

void frmLogin::Form_Load() {
    setWindowTitle(m_state.FirstUse ? QStringLiteral("您是第一次使用，请设置密码并牢记")
                                    : QStringLiteral("身份验证"));
    TryTimes = 0;
}

void frmLogin::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_centred) {
        m_centred = true;
        CentreOnScreen(*this);
    }
    txtPassword->setFocus(Qt::OtherFocusReason);
}

void frmLogin::cmdOK_Click() {
    if (m_unloaded) {
        return;
    }
    const QString typed = txtPassword->text();
    if (typed.size() < kMinPasswordLength) {
        if (m_state.FirstUse) {
            m_services.boxes.Show(this, QStringLiteral("密码的长度至少为3位。"), PromptTitle(),
                                  BoxStyle::Information);
        }
        return;
    }
    const PasswordDigest digest = DigestOfPassword(typed.toStdU16String());
    if (m_state.FirstUse) {
        SaveNewDigest(m_state, digest.text);
        Succeed(digest.sum);
        return;
    }
    VerifyPassword(digest.text, digest.sum);
}

void frmLogin::VerifyPassword(const std::u16string& digestText, std::int32_t sum) {
    if (digestText == m_state.StoredDigest) {
        Succeed(sum);
        return;
    }
    m_services.boxes.Show(this, QStringLiteral("无效的密码，请重试!"), QStringLiteral("登录"),
                          BoxStyle::Plain);
    ++TryTimes;
    if (TryTimes > kMaxWrongPasswords) {
        m_services.boxes.Show(this, QStringLiteral("傻瓜！走开！"), QStringLiteral("警告"),
                              BoxStyle::Warning);
        m_services.end.EndProgram();
        return;
    }
    txtPassword->setFocus(Qt::OtherFocusReason);
    txtPassword->selectAll();
}

void frmLogin::Succeed(std::int32_t sum) {
    m_state.CipherKey = KeyFromSum(sum);
    LoginSucceeded = true;
    Unload();
    if (m_showMain) {
        m_showMain();
    }
}

void frmLogin::cmdCancel_Click() {
    LoginSucceeded = false;
    m_services.end.EndProgram();
}

void frmLogin::reject() {
    if (!m_unloaded) {
        cmdCancel_Click();
    }
}

void frmLogin::Unload() {
    if (m_unloaded) {
        return;
    }
    m_unloaded = true;
    txtPassword->clear();
    hide();
}

}  // namespace kestrove
