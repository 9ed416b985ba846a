#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>

#include <QApplication>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include "DialogFrame.h"
#include "FormMain.h"
#include "ModFun.h"
#include "Password.h"
#include "ProgramWindows.h"
#include "UiTestSupport.h"
#include "WindowLooks.h"
#include "frmLogin.h"

namespace kestrove::testing {
namespace {

const QString kRetryText = QStringLiteral("无效的密码，请重试!");

class LoginTest : public ::testing::Test {
  protected:
    // Runs the start-up as the program does, with or without a stored password.
    void Start(const std::u16string& storedPassword = {}) {
        if (!storedPassword.empty()) {
            ui.StorePassword(storedPassword);
        }
        windows = std::make_unique<ProgramWindows>(ui.state, ui.services);
        Main(ui.state, *windows);
        login = windows->Login();
        ASSERT_NE(login, nullptr);
        password = login->findChild<QLineEdit*>(QStringLiteral("txtPassword"));
        ok = login->findChild<QPushButton*>(QStringLiteral("cmdOK"));
        cancel = login->findChild<QPushButton*>(QStringLiteral("cmdCancel"));
        ASSERT_TRUE(password && ok && cancel);
        writesAtStart = ui.store->WriteCount();
    }

    // Types text as key presses, Chinese included (keyClicks knows only ASCII keys).
    void Type(const QString& text) {
        password->selectAll();
        for (const QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(password, &press);
            QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(password, &release);
        }
    }

    void TryPassword(const QString& text) {
        Type(text);
        QTest::mouseClick(ok, Qt::LeftButton);
    }

    [[nodiscard]] bool MainShown() const { return windows->Main() && windows->Main()->isVisible(); }

    UiHarness ui;
    std::unique_ptr<ProgramWindows> windows;
    frmLogin* login = nullptr;
    QLineEdit* password = nullptr;
    QPushButton* ok = nullptr;
    QPushButton* cancel = nullptr;
    int writesAtStart = 0;
};

TEST_F(LoginTest, LayoutCaptionsAndColours) {
    Start();
    EXPECT_TRUE(login->isVisible());
    EXPECT_FALSE(login->isModal());
    EXPECT_EQ(login->size(), QSize(232, 133));
    EXPECT_EQ(login->palette().color(QPalette::Window), QColor(0, 0, 192));
    EXPECT_FALSE(login->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(login->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(login->windowIcon().isNull());

    auto* frame = login->findChild<QGroupBox*>(QStringLiteral("Frame1"));
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->geometry(), QRect(9, 18, 211, 61));
    EXPECT_EQ(frame->title(), QStringLiteral("请输入密码："));
    EXPECT_EQ(frame->palette().color(QPalette::Window), QColor(192, 255, 192));

    EXPECT_EQ(password->parentWidget(), frame);
    EXPECT_EQ(password->geometry(), QRect(21, 24, 167, 23));
    EXPECT_TRUE(password->text().isEmpty());
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_EQ(
        password->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, password),
        '*');
    EXPECT_EQ(password->palette().color(QPalette::Base), QColor(255, 255, 192));
    EXPECT_FALSE(password->testAttribute(Qt::WA_InputMethodEnabled));

    EXPECT_EQ(ok->geometry(), QRect(36, 95, 64, 26));
    EXPECT_EQ(ok->text(), QStringLiteral("确定"));
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(cancel->geometry(), QRect(126, 95, 64, 26));
    EXPECT_EQ(cancel->text(), QStringLiteral("取消"));
    EXPECT_FALSE(cancel->isDefault());
    for (QPushButton* button : {ok, cancel}) {
        EXPECT_EQ(button->palette().color(QPalette::Button), QColor(192, 255, 255));
    }

    // Tab order: the box, OK, Cancel; the box has the focus at the start.
    EXPECT_EQ(password->nextInFocusChain(), ok);
    EXPECT_EQ(ok->nextInFocusChain(), cancel);
    EXPECT_EQ(login->focusWidget(), password);
}

// Where the platform's title bar would not look as designed (Qt on Wayland), the window draws
// its own: the whole caption, a close box that ends the program, the client area as designed.
TEST(LoginDrawnFrame, CaptionCloseBoxAndClientAreaAsDesigned) {
    UiHarness ui;
    ui.state.FirstUse = true;  // the longer caption
    frmLogin login(
        ui.state, ui.services, [] {}, nullptr, frmLogin::FrameStyle::Drawn);
    login.show();
    EXPECT_TRUE(login.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_FALSE(login.windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    auto* frame = login.findChild<DialogFrame*>(QStringLiteral("DialogFrame"));
    ASSERT_NE(frame, nullptr);
    const QWidget* client = frame->Client();
    EXPECT_EQ(client->size(), QSize(232, 133));
    EXPECT_EQ(login.size(), QSize(232 + 2 * DialogFrame::kBorder,
                                  133 + DialogFrame::kCaptionHeight + 2 * DialogFrame::kBorder));
    EXPECT_EQ(client->palette().color(QPalette::Window), QColor(0, 0, 192));
    EXPECT_EQ(login.findChild<QPushButton*>(QStringLiteral("cmdOK"))->geometry(),
              QRect(36, 95, 64, 26));
    // The longer caption fits whole beside the icon and the close box.
    const QString caption = login.windowTitle();
    EXPECT_EQ(caption, QStringLiteral("您是第一次使用，请设置密码并牢记"));
    const int room = frame->CloseBox().left() - (DialogFrame::kBorder + 3 + 16 + 3) - 3;
    EXPECT_LE(QFontMetrics(frame->CaptionFont()).horizontalAdvance(caption), room);
    EXPECT_GE(frame->CaptionFont().pointSize(), 6);

    QTest::mouseClick(frame, Qt::LeftButton, Qt::NoModifier, frame->CloseBox().center());
    EXPECT_EQ(ui.end.count, 1);
    EXPECT_FALSE(login.LoginSucceeded);
}

TEST_F(LoginTest, CaptionFollowsTheMode) {
    Start();
    EXPECT_EQ(login->windowTitle(), QStringLiteral("您是第一次使用，请设置密码并牢记"));
    EXPECT_EQ(login->TryTimes, 0);

    UiHarness other;
    other.StorePassword(u"secret");
    ProgramWindows otherWindows(other.state, other.services);
    Main(other.state, otherWindows);
    EXPECT_EQ(otherWindows.Login()->windowTitle(), QStringLiteral("身份验证"));
}

TEST_F(LoginTest, BoxTakesAtMostSixteenCharacters) {
    Start();
    Type(QStringLiteral("一二三四五六七八九十abcdefghij"));
    EXPECT_EQ(password->text(), QStringLiteral("一二三四五六七八九十abcdef"));
}

TEST_F(LoginTest, FirstUseRefusesTwoCharacters) {
    Start();
    TryPassword(QStringLiteral("ab"));
    ASSERT_EQ(ui.boxes.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes.boxes[0].text, QStringLiteral("密码的长度至少为3位。"));
    EXPECT_EQ(ui.boxes.boxes[0].title, QStringLiteral("提示信息"));
    EXPECT_EQ(ui.boxes.boxes[0].style, BoxStyle::Information);
    EXPECT_EQ(ui.store->WriteCount(), writesAtStart);
    EXPECT_FALSE(ui.StoredValue().has_value());
    EXPECT_TRUE(login->isVisible());
    EXPECT_EQ(ui.state.CipherKey, 0);
    EXPECT_EQ(login->TryTimes, 0);
    EXPECT_FALSE(MainShown());
}

TEST_F(LoginTest, FirstUseWithThreeCharactersStoresTheDigestAndOpensTheMainWindow) {
    Start();
    // The switch from the login window to the main window must not end the program: run it
    // inside an event loop that only a quit or the timer can leave.
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [this] { TryPassword(QStringLiteral("中文字")); });
    QTimer::singleShot(300, &loop, [&loop] { loop.exit(7); });
    EXPECT_EQ(loop.exec(), 7);

    const PasswordDigest digest = DigestOfPassword(u"中文字");
    EXPECT_EQ(ui.StoredValue(), digest.text);
    EXPECT_EQ(ui.state.CipherKey, KeyFromSum(digest.sum));
    EXPECT_TRUE(login->LoginSucceeded);
    EXPECT_FALSE(login->isVisible());
    EXPECT_TRUE(MainShown());
    EXPECT_TRUE(ui.boxes.boxes.empty());
    EXPECT_EQ(ui.end.count, 0);
    // Start-up state is not changed by the first login.
    EXPECT_TRUE(ui.state.FirstUse);
    EXPECT_TRUE(ui.state.StoredDigest.empty());
}

TEST_F(LoginTest, VerificationIgnoresShortTexts) {
    Start(u"secret");
    for (const QString& text : {QString(), QStringLiteral("a"), QStringLiteral("ab")}) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            TryPassword(text);
        }
        EXPECT_EQ(password->text(), text);
    }
    EXPECT_TRUE(ui.boxes.boxes.empty());
    EXPECT_EQ(login->TryTimes, 0);
    EXPECT_TRUE(login->isVisible());
    EXPECT_EQ(ui.state.CipherKey, 0);
}

TEST_F(LoginTest, FiveWrongPasswordsKeepTheWindowOpenWithTheTextSelected) {
    Start(u"secret");
    for (int attempt = 1; attempt <= 5; ++attempt) {
        // Typing after a wrong password replaces the selected text.
        QTest::keyClicks(password, QStringLiteral("wrong%1").arg(attempt));
        QTest::mouseClick(ok, Qt::LeftButton);
        EXPECT_EQ(password->text(), QStringLiteral("wrong%1").arg(attempt));
        EXPECT_EQ(password->selectedText(), password->text());
        EXPECT_EQ(login->focusWidget(), password);
        EXPECT_EQ(login->TryTimes, attempt);
    }
    ASSERT_EQ(ui.boxes.boxes.size(), 5u);
    for (const auto& box : ui.boxes.boxes) {
        EXPECT_EQ(box.text, kRetryText);
        EXPECT_EQ(box.title, QStringLiteral("登录"));
        EXPECT_EQ(box.style, BoxStyle::Plain);
    }
    EXPECT_TRUE(login->isVisible());
    EXPECT_EQ(ui.end.count, 0);
    EXPECT_EQ(ui.state.CipherKey, 0);
}

TEST_F(LoginTest, SixthWrongPasswordWarnsAndEndsTheProgram) {
    Start(u"secret");
    for (int attempt = 1; attempt <= 5; ++attempt) {
        TryPassword(QStringLiteral("wrong"));
    }
    EXPECT_EQ(ui.end.count, 0);
    TryPassword(QStringLiteral("wrong"));
    ASSERT_EQ(ui.boxes.boxes.size(), 7u);
    EXPECT_EQ(ui.boxes.boxes[5].text, kRetryText);
    EXPECT_EQ(ui.boxes.boxes[6].text, QStringLiteral("傻瓜！走开！"));
    EXPECT_EQ(ui.boxes.boxes[6].title, QStringLiteral("警告"));
    EXPECT_EQ(ui.boxes.boxes[6].style, BoxStyle::Warning);
    EXPECT_EQ(ui.end.count, 1);
    EXPECT_EQ(ui.store->WriteCount(), writesAtStart);
    EXPECT_FALSE(MainShown());
}

TEST_F(LoginTest, CorrectPasswordAfterWrongOnesSucceeds) {
    Start(u"secret");
    for (int attempt = 1; attempt <= 5; ++attempt) {
        TryPassword(QStringLiteral("wrong"));
    }
    TryPassword(QStringLiteral("secret"));
    EXPECT_EQ(ui.boxes.boxes.size(), 5u);
    EXPECT_EQ(ui.state.CipherKey, KeyFromSum(DigestOfPassword(u"secret").sum));
    EXPECT_TRUE(login->LoginSucceeded);
    EXPECT_TRUE(MainShown());
    EXPECT_FALSE(login->isVisible());
    EXPECT_EQ(ui.end.count, 0);
    EXPECT_EQ(ui.store->WriteCount(), writesAtStart);
}

TEST_F(LoginTest, AnyTextWithTheStoredDigestIsAccepted) {
    // Two different three-letter texts with the same digest: the window compares digests, so
    // both open the program, with the same key.
    std::map<std::u16string, std::u16string> byDigest;
    std::u16string first, second;
    for (char16_t a = u'a'; a <= u'z' && second.empty(); ++a) {
        for (char16_t b = u'a'; b <= u'z' && second.empty(); ++b) {
            for (char16_t c = u'a'; c <= u'z' && second.empty(); ++c) {
                const std::u16string text{a, b, c};
                auto [it, added] = byDigest.emplace(DigestOfPassword(text).text, text);
                if (!added) {
                    first = it->second;
                    second = text;
                }
            }
        }
    }
    ASSERT_FALSE(second.empty());
    Start(first);
    TryPassword(QString::fromStdU16String(second));
    EXPECT_TRUE(MainShown());
    EXPECT_EQ(ui.state.CipherKey, KeyFromSum(DigestOfPassword(first).sum));
}

TEST_F(LoginTest, EnterInTheBoxRunsTheOkActionOnce) {
    Start(u"secret");
    Type(QStringLiteral("wrong"));
    QTest::keyClick(password, Qt::Key_Return);
    EXPECT_EQ(ui.boxes.boxes.size(), 1u);
    EXPECT_EQ(login->TryTimes, 1);

    Type(QStringLiteral("secret"));
    QTest::keyClick(password, Qt::Key_Enter);
    EXPECT_TRUE(MainShown());
}

TEST_F(LoginTest, EnterOnCancelEndsTheProgram) {
    Start();
    Type(QStringLiteral("abc"));
    cancel->setFocus();
    QTest::keyClick(cancel, Qt::Key_Return);
    EXPECT_EQ(ui.end.count, 1);
    EXPECT_FALSE(ui.StoredValue().has_value());
    EXPECT_FALSE(MainShown());
}

enum class CancelWay { Esc, CancelButton, CloseBox };

class LoginCancelTest : public LoginTest,
                        public ::testing::WithParamInterface<std::tuple<bool, CancelWay>> {};

TEST_P(LoginCancelTest, EndsTheProgramWithNothingWritten) {
    const auto [firstUse, way] = GetParam();
    Start(firstUse ? std::u16string() : u"secret");
    Type(QStringLiteral("secret"));
    switch (way) {
        case CancelWay::Esc:
            QTest::keyClick(password, Qt::Key_Escape);
            break;
        case CancelWay::CancelButton:
            QTest::mouseClick(cancel, Qt::LeftButton);
            break;
        case CancelWay::CloseBox:
            login->close();
            break;
    }
    EXPECT_EQ(ui.end.count, 1);
    EXPECT_FALSE(login->LoginSucceeded);
    EXPECT_EQ(ui.store->WriteCount(), writesAtStart);
    EXPECT_EQ(ui.state.CipherKey, 0);
    EXPECT_TRUE(ui.boxes.boxes.empty());
    EXPECT_FALSE(MainShown());
}

std::string CancelCaseName(const ::testing::TestParamInfo<std::tuple<bool, CancelWay>>& info) {
    static const char* const ways[] = {"Esc", "CancelButton", "CloseBox"};
    return std::string(std::get<0>(info.param) ? "FirstUse_" : "Verification_") +
           ways[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(
    BothModes, LoginCancelTest,
    ::testing::Combine(::testing::Bool(), ::testing::Values(CancelWay::Esc, CancelWay::CancelButton,
                                                            CancelWay::CloseBox)),
    CancelCaseName);

}  // namespace
}  // namespace kestrove::testing
