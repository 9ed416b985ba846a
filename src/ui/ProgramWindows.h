#pragma once

#include <memory>

#include "DropJobRunner.h"
#include "UiServices.h"

namespace kestrove {

class FormMain;
class RunState;
class frmLogin;

// Owns the two windows of a run and switches from the login window to the main window. Windows
// never end the program by closing: only the explicit ends (cancel, the sixth wrong password,
// the quit label) do, through the services' ProgramEnd.
class ProgramWindows {
  public:
    ProgramWindows(RunState& state, UiServices services, DropWork work = DropWork::FromCore());
    ~ProgramWindows();
    ProgramWindows(const ProgramWindows&) = delete;
    ProgramWindows& operator=(const ProgramWindows&) = delete;

    // Creates and shows the login window (modeless, no owner).
    void ShowLogin();
    // Creates (once) and shows the main window (modeless, no owner).
    void ShowMain();
    void UnloadLogin();

    [[nodiscard]] frmLogin* Login() const { return m_login.get(); }
    [[nodiscard]] FormMain* Main() const { return m_main.get(); }

  private:
    RunState& m_state;
    UiServices m_services;
    DropWork m_work;
    std::unique_ptr<frmLogin> m_login;
    std::unique_ptr<FormMain> m_main;
};

}  // namespace kestrove
