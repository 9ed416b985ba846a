#pragma once

#include <functional>
#include <stop_token>
#include <string>

#include "DropJobRunner.h"
#include "FormMain.h"

namespace kestrove {

// The worker's view of the main window. Called on the worker thread; everything it does to the
// window is posted to the window's thread, in order.
class FormMain::DropViewOnWindow final : public DropView {
  public:
    explicit DropViewOnWindow(FormMain& window);

    void BeginDrop(int index) override;
    void SetProgress(std::size_t done, std::size_t count) override;
    void EndDrop(int index) override;
    void ReportFailure(const FileFailure& failure, std::stop_token stop) override;
    void AbandonDrop(int index, std::stop_token stop) override;

  private:
    void Post(std::function<void()> task);
    std::function<void()> Guarded(std::function<void()> task);

    FormMain& m_window;
};

}  // namespace kestrove
