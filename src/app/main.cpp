#include <QApplication>

#include "KestroveVersion.h"

#include "ModFun.h"
#include "PlatformChoice.h"
#include "ProgramWindows.h"
#include "RunState.h"
#include "UiServices.h"
#include "WindowLooks.h"

int main(int argc, char** argv) {
    // On Wayland the platform decides whether the window can stay above the others.
    const kestrove::PlatformChoice choice =
        kestrove::ChoosePlatform(kestrove::CurrentPlatformFacts());
    kestrove::ScopedPlatform platform(choice);
    QApplication app(argc, argv);
    platform.Restore();
    (void)kestrove::FinishPlatformChoice(choice.path);
    QApplication::setApplicationName(QStringLiteral("Kestrove"));
    QApplication::setApplicationVersion(QStringLiteral(KESTROVE_SHORT_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("kestrove"));
    QApplication::setWindowIcon(kestrove::ProgramIcon());

    kestrove::RunState state;
    kestrove::QtMessageBoxes boxes;
    kestrove::QuitEventLoop end;
    // Declared after the run state: the windows (and the drop worker) go first.
    kestrove::ProgramWindows windows(state, {boxes, end, kestrove::OpenUrlInDesktop});
    kestrove::Main(state, windows);
    return QApplication::exec();
}
