#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include <QPoint>
#include <QRect>
#include <QWidget>

#include "DropJobRunner.h"

class QLabel;
class QMimeData;
class QWindow;

namespace kestrove {

class ClickLabel;
class ImageTarget;
class RunState;
struct UiServices;

// Full width of the progress bar, in pixels.
inline constexpr int kProgressFullWidth = 217;

// Where a dragged window may go: anywhere that leaves a grip of it (32 x 25 pixels) on the
// desktop, so that it can always be dragged back. Never overflows, whatever is asked.
[[nodiscard]] QPoint ClampedWindowPosition(double left, double top, QSize size, QRect desktop);

// The working window: borderless, always on top, with the two drop targets, the progress bar,
// the completion labels, the home-page link and the quit label.
class FormMain : public QWidget {
    Q_OBJECT

  public:
    // unloadLogin is called when the program quits, to close the login window if it is still
    // open.
    FormMain(RunState& state, UiServices& services, std::function<void()> unloadLogin,
             DropWork work = DropWork::FromCore(), QWidget* parent = nullptr);
    ~FormMain() override;

    // Stops any running drop (the file being written keeps its old content) and closes the
    // window without ending the program.
    void Unload();

    // How a move is handed to the platform; returns false when the platform cannot do it, and
    // the window then follows the pointer itself.
    using SystemMoveStarter = std::function<bool(QWindow*)>;
    void SetSystemMoveStarter(SystemMoveStarter starter) { m_startSystemMove = std::move(starter); }

    void LabQuit_Click();
    void LabAuthor_Click();

  signals:
    // Every width the progress bar is given, in order.
    void progressWidthSet(int width);
    // A drop's last step on the window: completed (label shown) or abandoned.
    void dropEnded(int index, bool completed);
    void madeTopmost();

  protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    class DropViewOnWindow;

    void BuildControls();
    void CreateDropRunner(DropWork work);
    void Form_MouseDown(Qt::MouseButton button, QPointF position);
    void Form_MouseMove(QPointF position);
    void Form_MouseUp();

    // The drop handler returns at once; the worker does the rest.
    void ImgGo_OLEDragDrop(int index, const QMimeData* data);
    void BeginDrop(int index);
    void SetProgressWidth(int width);
    void EndDrop(int index);
    void AbandonDrop(int index);
    void ShowFailure(const QString& text);
    void ResetPointers(int index);

    RunState& m_state;
    UiServices& m_services;
    std::function<void()> m_unloadLogin;
    SystemMoveStarter m_startSystemMove;

    // Drag state.
    bool IsDragging = false;
    std::int32_t DownX = 0;
    std::int32_t DownY = 0;
    QPoint m_pressPosition;  // the window's place at the press

    bool m_centred = false;
    bool m_topmostQueued = false;
    bool m_unloaded = false;

    std::array<QLabel*, 2> LabTip{};
    QLabel* LabProgress = nullptr;
    ClickLabel* LabQuit = nullptr;
    QLabel* ImageTitle = nullptr;
    ClickLabel* LabAuthor = nullptr;
    std::array<ImageTarget*, 2> ImgGo{};

    std::unique_ptr<DropViewOnWindow> m_dropView;
    std::unique_ptr<DropJobRunner> m_runner;  // after the view it reports to
};

}  // namespace kestrove
