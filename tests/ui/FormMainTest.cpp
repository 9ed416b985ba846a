#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>

#include "FormMain.h"
#include "ModFun.h"
#include "UiTestSupport.h"

namespace kestrove::testing {
namespace {

class FormMainTest : public ::testing::Test {
  protected:
    FormMainTest() : window(ui.state, ui.services, [this] { ++loginUnloads; }) {
        window.show();
        start = window.pos();
    }

    template <typename T = QWidget>
    T* Control(const char* name) {
        auto* widget = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    static void Mouse(QWidget* widget, QEvent::Type type, QPointF position,
                      Qt::MouseButton button) {
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent event(type, position, widget->mapToGlobal(position), button, held,
                          Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }
    static void Press(QWidget* widget, QPointF at, Qt::MouseButton button = Qt::LeftButton) {
        Mouse(widget, QEvent::MouseButtonPress, at, button);
    }
    static void MoveTo(QWidget* widget, QPointF at) {
        QMouseEvent event(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }
    static void Release(QWidget* widget, QPointF at, Qt::MouseButton button = Qt::LeftButton) {
        Mouse(widget, QEvent::MouseButtonRelease, at, button);
    }

    UiHarness ui;
    int loginUnloads = 0;
    FormMain window;
    QPoint start;
};

TEST_F(FormMainTest, WindowIsBorderlessBlueFixedAndCentred) {
    EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(window.size(), QSize(255, 180));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Kestrove 1.0"));
    EXPECT_EQ(window.palette().color(QPalette::Window), QColor(0, 0, 192));
    EXPECT_TRUE(window.autoFillBackground());
    EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(32, 32)));
    const QRect area = window.screen()->availableGeometry();
    EXPECT_LE(std::abs(window.geometry().center().x() - area.center().x()), 1);
    EXPECT_LE(std::abs(window.geometry().center().y() - area.center().y()), 1);
}

TEST_F(FormMainTest, ControlsSitWhereTheyBelongFrontToBack) {
    struct Expected {
        const char* name;
        QRect geometry;
        QString text;
        bool visible;
    };
    const Expected controls[] = {
        {"LabTip(1)", {153, 78, 76, 19}, QStringLiteral("解密完成"), false},
        {"LabTip(0)", {27, 78, 76, 19}, QStringLiteral("加密完成"), false},
        {"LabProgress", {15, 147, 217, 4}, QString(), true},
        {"LabQuit", {228, 0, 28, 25}, QString(), true},
        {"ImageTitle", {0, 0, 256, 25}, QString(), true},
        {"LabAuthor",
         {12, 159, 226, 13},
         QStringLiteral("检查升级：http://www.brannoc.example"),
         true},
        {"ImgGo(1)", {135, 33, 100, 109}, QString(), true},
        {"ImgGo(0)", {12, 33, 100, 109}, QString(), true},
    };
    QStringList frontToBack;
    for (const QObject* child : window.children()) {
        if (child->isWidgetType()) {
            frontToBack.prepend(child->objectName());
        }
    }
    QStringList expectedOrder;
    for (const auto& control : controls) {
        expectedOrder.append(QString::fromLatin1(control.name));
        auto* label = Control<QLabel>(control.name);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->geometry(), control.geometry) << control.name;
        EXPECT_EQ(label->text(), control.text) << control.name;
        EXPECT_EQ(label->isVisible(), control.visible) << control.name;
    }
    EXPECT_EQ(frontToBack, expectedOrder);
    // The close cross at the right end of the strip is under the quit label.
    EXPECT_EQ(window.childAt(240, 12), Control("LabQuit"));
    EXPECT_EQ(window.childAt(100, 12), Control("ImageTitle"));
}

TEST_F(FormMainTest, ColoursFontsTooltipsPointersAndPictures) {
    for (const char* name : {"LabTip(0)", "LabTip(1)"}) {
        auto* tip = Control<QLabel>(name);
        EXPECT_EQ(tip->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        EXPECT_FALSE(tip->autoFillBackground());
        EXPECT_TRUE(tip->font().bold());
        EXPECT_EQ(tip->font().pointSize(), 12);
        EXPECT_EQ(tip->font().families().value(0), QStringLiteral("宋体"));
        // Whatever family is found, it must draw the Chinese caption.
        const QFontMetrics metrics(tip->font());
        for (const QChar c : tip->text()) {
            EXPECT_TRUE(metrics.inFont(c)) << name;
        }
    }
    auto* progress = Control<QLabel>("LabProgress");
    EXPECT_EQ(progress->palette().color(QPalette::Window), QColor(255, 0, 0));
    EXPECT_TRUE(progress->autoFillBackground());
    auto* author = Control<QLabel>("LabAuthor");
    EXPECT_EQ(author->palette().color(QPalette::WindowText), QColor(255, 255, 255));
    EXPECT_FALSE(author->autoFillBackground());
    EXPECT_EQ(author->cursor().shape(), Qt::WhatsThisCursor);
    EXPECT_EQ(Control("LabQuit")->toolTip(), QStringLiteral("退出"));
    EXPECT_FALSE(Control<QLabel>("LabQuit")->autoFillBackground());
    EXPECT_EQ(Control("ImgGo(0)")->toolTip(),
              QStringLiteral("把文件或目录拖到我身上，就可自动对其加密。"));
    EXPECT_EQ(Control("ImgGo(1)")->toolTip(),
              QStringLiteral("把加密过的文件或目录拖到我身上，就可自动对其解密。"));
    EXPECT_EQ(Control<QLabel>("ImageTitle")->pixmap().size(), QSize(256, 25));
    for (const char* name : {"ImgGo(0)", "ImgGo(1)"}) {
        auto* target = Control<QLabel>(name);
        EXPECT_EQ(target->pixmap().size(), QSize(100, 109));
        EXPECT_TRUE(target->hasScaledContents());
        EXPECT_TRUE(target->acceptDrops());
        EXPECT_FALSE(target->testAttribute(Qt::WA_SetCursor));
    }
    EXPECT_FALSE(window.testAttribute(Qt::WA_SetCursor));
}

TEST_F(FormMainTest, DragByTheTitleImageKeepsTheGrabbedPointUnderThePointer) {
    QWidget* title = Control("ImageTitle");
    Press(title, {60, 12});
    MoveTo(title, {210, -8});  // 150 right, 20 up
    EXPECT_EQ(window.pos(), start + QPoint(150, -20));
    MoveTo(title, {60, 12});  // the pointer has not moved since: the window stays
    EXPECT_EQ(window.pos(), start + QPoint(150, -20));
    Release(title, {60, 12});
    MoveTo(title, {100, 100});
    EXPECT_EQ(window.pos(), start + QPoint(150, -20));
}

TEST_F(FormMainTest, DragByTheBody) {
    Press(&window, {240, 170});
    MoveTo(&window, {200, 180});
    EXPECT_EQ(window.pos(), start + QPoint(-40, 10));
    Release(&window, {200, 180}, Qt::RightButton);  // any release ends the drag
    MoveTo(&window, {0, 0});
    EXPECT_EQ(window.pos(), start + QPoint(-40, 10));
}

TEST_F(FormMainTest, OnlyALeftPressOnTheBodyOrTitleStartsADrag) {
    MoveTo(&window, {10, 10});  // no press at all
    for (const Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        Press(&window, {240, 170}, button);
        MoveTo(&window, {100, 100});
        Press(Control("ImageTitle"), {60, 12}, button);
        MoveTo(Control("ImageTitle"), {100, 100});
    }
    // Labels and targets swallow presses.
    for (const char* name : {"LabAuthor", "LabProgress", "LabQuit", "ImgGo(0)", "ImgGo(1)"}) {
        QWidget* control = Control(name);
        Press(control, QPointF(control->rect().center()));
        MoveTo(control, {-50, -50});
        MoveTo(&window, {-50, -50});
        Release(control, {-50, -50});
    }
    EXPECT_EQ(window.pos(), start);
}

TEST_F(FormMainTest, PlatformMoveIsUsedWhereItWorks) {
    int platformMoves = 0;
    window.SetSystemMoveStarter([&](QWindow* handle) {
        EXPECT_EQ(handle, window.windowHandle());
        ++platformMoves;
        return true;
    });
    Press(Control("ImageTitle"), {60, 12});
    MoveTo(Control("ImageTitle"), {160, 12});
    EXPECT_EQ(platformMoves, 1);
    EXPECT_EQ(window.pos(), start);  // the platform moves it, not we
    // A right press afterwards must not find a drag left over.
    Press(&window, {240, 170}, Qt::RightButton);
    MoveTo(&window, {100, 100});
    EXPECT_EQ(window.pos(), start);
}

TEST_F(FormMainTest, FarDragsAreClampedNotFatal) {
    Press(&window, {100, 100});
    MoveTo(&window, {1e9, -1e9});
    const QRect desktop = window.screen()->virtualGeometry();
    EXPECT_EQ(window.pos(), QPoint(desktop.right() + 1 - 32, desktop.top() - (180 - 25)));
    MoveTo(&window, {-1e9, 1e9});
    EXPECT_EQ(window.pos(), QPoint(desktop.left() - (255 - 32), desktop.bottom() + 1 - 25));
}

TEST(ClampedWindowPosition, KeepsAGripOnTheDesktop) {
    const QRect desktop(0, 0, 1000, 800);
    const QSize size(255, 180);
    EXPECT_EQ(ClampedWindowPosition(100, 200, size, desktop), QPoint(100, 200));
    EXPECT_EQ(ClampedWindowPosition(100.5, 200.5, size, desktop), QPoint(100, 200));
    EXPECT_EQ(ClampedWindowPosition(101.5, 201.5, size, desktop), QPoint(102, 202));
    EXPECT_EQ(ClampedWindowPosition(-5000, -5000, size, desktop), QPoint(-223, -155));
    EXPECT_EQ(ClampedWindowPosition(5e300, 5e300, size, desktop), QPoint(968, 775));
    EXPECT_EQ(ClampedWindowPosition(std::nan(""), std::nan(""), size, desktop), QPoint(-223, -155));
}

TEST_F(FormMainTest, QuitLabelEndsTheProgram) {
    QTest::mouseClick(Control("LabQuit"), Qt::LeftButton);
    EXPECT_EQ(ui.end.count, 1);
    EXPECT_EQ(loginUnloads, 1);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.pos(), start);
}

TEST_F(FormMainTest, QuitLabelNeedsPressAndReleaseOnIt) {
    QWidget* quit = Control("LabQuit");
    Press(quit, {10, 10});
    Release(quit, {-30, 40});  // released elsewhere: no click
    Press(quit, {10, 10}, Qt::RightButton);
    Release(quit, {10, 10}, Qt::RightButton);
    EXPECT_EQ(ui.end.count, 0);
    EXPECT_TRUE(window.isVisible());
}

TEST_F(FormMainTest, AuthorLabelOpensTheHomePage) {
    QTest::mouseClick(Control("LabAuthor"), Qt::LeftButton);
    ASSERT_EQ(ui.openedUrls.size(), 1u);
    EXPECT_EQ(ui.openedUrls[0], QUrl(QStringLiteral("http://www.brannoc.example")));
    EXPECT_EQ(ui.end.count, 0);
}

TEST(OpenUrl, PrefixesOnlyTextsWithoutLowerCaseHttp) {
    EXPECT_EQ(UrlWithScheme(QStringLiteral("www.x.example")),
              QStringLiteral("http://www.x.example"));
    EXPECT_EQ(UrlWithScheme(QStringLiteral("https://x.example")),
              QStringLiteral("https://x.example"));
    EXPECT_EQ(UrlWithScheme(QStringLiteral("ftp://x.example/http")),
              QStringLiteral("ftp://x.example/http"));
    EXPECT_EQ(UrlWithScheme(QStringLiteral("x.example/ahttpb")),
              QStringLiteral("x.example/ahttpb"));
    EXPECT_EQ(UrlWithScheme(QStringLiteral("HTTP://X.EXAMPLE")),
              QStringLiteral("http://HTTP://X.EXAMPLE"));
    EXPECT_EQ(UrlWithScheme(QStringLiteral("Http://x.example")),
              QStringLiteral("http://Http://x.example"));
    EXPECT_EQ(UrlWithScheme(QString()), QStringLiteral("http://"));

    std::vector<QUrl> opened;
    OpenUrl(QStringLiteral("www.x.example/a"), [&](const QUrl& url) { opened.push_back(url); });
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toString(), QStringLiteral("http://www.x.example/a"));
}

TEST_F(FormMainTest, EveryPaintPutsTheWindowOnTopAgain) {
    int raised = 0;
    QObject::connect(&window, &FormMain::madeTopmost, [&] { ++raised; });
    ASSERT_TRUE(WaitUntil([&] { return raised >= 1; }));
    EXPECT_EQ(QApplication::activeWindow(), &window);
    const int before = raised;
    window.repaint();
    ASSERT_TRUE(WaitUntil([&] { return raised > before; }));
    // Nothing keeps raising once the paints stop.
    const int settled = raised;
    QTest::qWait(100);
    EXPECT_LE(raised, settled + 1);
}

TEST_F(FormMainTest, CompletionLabelsLetDropsThroughToTheTargets) {
    for (int index : {0, 1}) {
        auto* tip = Control(index == 0 ? "LabTip(0)" : "LabTip(1)");
        tip->show();
        const QPoint middle = tip->geometry().center();
        EXPECT_EQ(window.childAt(middle), Control(index == 0 ? "ImgGo(0)" : "ImgGo(1)"));
    }
}

}  // namespace
}  // namespace kestrove::testing
