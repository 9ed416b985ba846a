// The window tests need a QApplication; they run without a display.
#include <gtest/gtest.h>

#include <cstdio>

#include <QApplication>

namespace {

// The offscreen platform cannot raise windows and says so on every raise; that is expected.
QtMessageHandler g_previousHandler = nullptr;

void QuietRaise(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.contains(QStringLiteral("does not support raise"))) {
        return;
    }
    if (g_previousHandler != nullptr) {
        g_previousHandler(type, context, message);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Test discovery runs this binary without ctest's environment.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    // A static Qt knows only the platforms linked into the program; under Wine a program asked
    // for the offscreen one has been seen running on the windows one. Refuse to run on another
    // platform than the one asked for.
    const QString wanted = QString::fromLocal8Bit(qgetenv("QT_QPA_PLATFORM")).section(u':', 0, 0);
    if (QGuiApplication::platformName() != wanted) {
        std::fprintf(stderr, "asked for the %s platform, Qt runs on %s\n", qPrintable(wanted),
                     qPrintable(QGuiApplication::platformName()));
        return 1;
    }
    g_previousHandler = qInstallMessageHandler(QuietRaise);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
