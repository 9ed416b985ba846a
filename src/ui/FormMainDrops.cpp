// The window's side of a drop: the drop handler, and what the worker asks the window to show.
#include <condition_variable>
#include <memory>
#include <mutex>

#include <QLabel>
#include <QMetaObject>
#include <QMimeData>

#include "DropData.h"
#include "FailureTexts.h"
#include "FormMain.h"
#include "FormMainDropView.h"
#include "ImageTarget.h"
#include "RunState.h"
#include "StopWait.h"
#include "UiServices.h"

namespace kestrove {

namespace {

// Runs task on the window's thread and waits until it has run, or until stop is requested. The
// task is dropped unrun if the window goes first.
void RunOnWindowAndWait(QObject* window, std::function<void()> task, std::stop_token stop) {
    struct Done {
        std::mutex mutex;
        std::condition_variable_any changed;
        bool done = false;
    };
    auto done = std::make_shared<Done>();
    QMetaObject::invokeMethod(
        window,
        [done, task = std::move(task)] {
            task();
            {
                std::lock_guard lock(done->mutex);
                done->done = true;
            }
            done->changed.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(done->mutex);
    WaitUnlessStopped(done->changed, lock, stop, [&done] { return done->done; });
}

}  // namespace

FormMain::DropViewOnWindow::DropViewOnWindow(FormMain& window) : m_window(window) {}

void FormMain::DropViewOnWindow::BeginDrop(int index) {
    Post([this, index] { m_window.BeginDrop(index); });
}

void FormMain::DropViewOnWindow::SetProgress(std::size_t done, std::size_t count) {
    const int width = ProgressWidth(done, count, kProgressFullWidth);
    Post([this, width] { m_window.SetProgressWidth(width); });
}

void FormMain::DropViewOnWindow::EndDrop(int index) {
    Post([this, index] { m_window.EndDrop(index); });
}

void FormMain::DropViewOnWindow::ReportFailure(const FileFailure& failure, std::stop_token stop) {
    const QString message = FailureMessageText(failure);
    RunOnWindowAndWait(&m_window, Guarded([this, message] { m_window.ShowFailure(message); }),
                       std::move(stop));
}

void FormMain::DropViewOnWindow::AbandonDrop(int index, std::stop_token stop) {
    RunOnWindowAndWait(&m_window, Guarded([this, index] { m_window.AbandonDrop(index); }),
                       std::move(stop));
}

void FormMain::DropViewOnWindow::Post(std::function<void()> task) {
    QMetaObject::invokeMethod(&m_window, Guarded(std::move(task)), Qt::QueuedConnection);
}

std::function<void()> FormMain::DropViewOnWindow::Guarded(std::function<void()> task) {
    // Nothing more is shown once the window has been unloaded.
    return [this, task = std::move(task)] {
        if (!m_window.m_unloaded) {
            task();
        }
    };
}

void FormMain::CreateDropRunner(DropWork work) {
    m_dropView = std::make_unique<DropViewOnWindow>(*this);
    m_runner = std::make_unique<DropJobRunner>(*m_dropView, std::move(work));
}

void FormMain::ImgGo_OLEDragDrop(int index, const QMimeData* data) {
    if (!CarriesFileList(data) || m_unloaded) {
        return;
    }
    // The drop data may be gone once this returns: copy the paths and leave the work to the
    // worker.
    m_runner->Enqueue(DropJob{index, DroppedPaths(data), m_state.CipherKey});
}

void FormMain::BeginDrop(int index) {
    setCursor(Qt::WaitCursor);
    ImgGo[index]->setCursor(Qt::WaitCursor);
    LabTip[0]->hide();
    LabTip[1]->hide();
    SetProgressWidth(1);
}

void FormMain::SetProgressWidth(int width) {
    LabProgress->resize(width, LabProgress->height());
    emit progressWidthSet(width);
}

void FormMain::EndDrop(int index) {
    SetProgressWidth(kProgressFullWidth);
    LabTip[index]->show();
    ResetPointers(index);
    emit dropEnded(index, true);
}

void FormMain::AbandonDrop(int index) {
    m_services.boxes.Show(this, QStringLiteral("请拖入文件或目录！"), PromptTitle(),
                          BoxStyle::Information);
    ResetPointers(index);
    emit dropEnded(index, false);
}

void FormMain::ShowFailure(const QString& text) {
    m_services.boxes.Show(this, text, PromptTitle(), BoxStyle::Information);
}

void FormMain::ResetPointers(int index) {
    unsetCursor();
    ImgGo[index]->unsetCursor();
}

}  // namespace kestrove
