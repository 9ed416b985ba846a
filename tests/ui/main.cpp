// The window tests need a QApplication; they run without a display.
#include <gtest/gtest.h>

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
    g_previousHandler = qInstallMessageHandler(QuietRaise);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
