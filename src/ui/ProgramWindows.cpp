#include "ProgramWindows.h"

#include <QGuiApplication>

#include "FormMain.h"
#include "TopLayer.h"
#include "frmLogin.h"

namespace kestrove {

ProgramWindows::ProgramWindows(RunState& state, UiServices services, DropWork work)
    : m_state(state), m_services(std::move(services)), m_work(std::move(work)) {
    // Qt would quit when the login window closes and before the main window shows.
    QGuiApplication::setQuitOnLastWindowClosed(false);
}

ProgramWindows::~ProgramWindows() {
    m_main.reset();
    m_login.reset();
}

void ProgramWindows::ShowLogin() {
    if (!m_login) {
        m_login = std::make_unique<frmLogin>(m_state, m_services, [this] { ShowMain(); });
    }
    TopLayer::Show(*m_login, TopLayer::Keyboard::Exclusive);
}

void ProgramWindows::ShowMain() {
    if (!m_main) {
        m_main = std::make_unique<FormMain>(
            m_state, m_services, [this] { UnloadLogin(); }, m_work);
    }
    TopLayer::Show(*m_main, TopLayer::Keyboard::None);
}

void ProgramWindows::UnloadLogin() {
    if (m_login) {
        m_login->Unload();
    }
}

}  // namespace kestrove
