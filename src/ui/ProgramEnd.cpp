#include "ProgramEnd.h"

#include <QCoreApplication>

namespace kestrove {

void QuitEventLoop::EndProgram() {
    QCoreApplication::exit(0);
}

}  // namespace kestrove
