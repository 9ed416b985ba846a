#include "FormMain.h"

#include <algorithm>
#include <cmath>

#include <QCloseEvent>
#include <QLabel>
#include <QMetaObject>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

#include "ClickLabel.h"
#include "FormMainDropView.h"
#include "ImageTarget.h"
#include "KestroveVersion.h"
#include "ModFun.h"
#include "Rounding.h"
#include "RunState.h"
#include "TopLayer.h"
#include "UiServices.h"
#include "WindowLooks.h"

namespace kestrove {

namespace {

constexpr int kGripWidth = 32;
constexpr int kGripHeight = 25;

QLabel* MakeTip(QWidget* parent, const QString& name, const QString& caption, const QRect& rect) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setGeometry(rect);
    label->setFont(SongTiFont(12, true));
    SetForeColor(*label, kTipRed);
    // A drop onto the middle of a target must reach the target under its completion label.
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->hide();
    return label;
}

}  // namespace

QPoint ClampedWindowPosition(double left, double top, QSize size, QRect desktop) {
    const double minLeft = desktop.left() - (size.width() - kGripWidth);
    const double maxLeft = desktop.right() + 1 - kGripWidth;
    const double minTop = desktop.top() - (size.height() - kGripHeight);
    const double maxTop = desktop.bottom() + 1 - kGripHeight;
    // NaN compares false everywhere; treat it as the nearest edge rather than as a position.
    const double x =
        std::isnan(left) ? minLeft : std::clamp(left, minLeft, std::max(minLeft, maxLeft));
    const double y = std::isnan(top) ? minTop : std::clamp(top, minTop, std::max(minTop, maxTop));
    return {static_cast<int>(RoundHalfEven(x)), static_cast<int>(RoundHalfEven(y))};
}

FormMain::FormMain(RunState& state, UiServices& services, std::function<void()> unloadLogin,
                   DropWork work, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_state(state),
      m_services(services),
      m_unloadLogin(std::move(unloadLogin)),
      m_startSystemMove([](QWindow* window) { return window && window->startSystemMove(); }) {
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(QStringLiteral(KESTROVE_CAPTION));
    setWindowIcon(ProgramIcon());
    setFixedSize(255, 180);
    SetBackColor(*this, kWindowBlue);
    BuildControls();
    CreateDropRunner(std::move(work));
}

FormMain::~FormMain() {
    // The worker reports to this window: stop it before any control goes.
    m_runner.reset();
}

void FormMain::BuildControls() {
    // Created back to front: a later sibling lies above an earlier one.
    const QString encryptTip = QStringLiteral("把文件或目录拖到我身上，就可自动对其加密。");
    const QString decryptTip = QStringLiteral("把加密过的文件或目录拖到我身上，就可自动对其解密。");
    const QRect targetRects[2] = {{12, 33, 100, 109}, {135, 33, 100, 109}};
    const QString pictures[2] = {QStringLiteral("encrypt"), QStringLiteral("decrypt")};
    for (int index : {0, 1}) {
        auto* target = new ImageTarget(index, this);
        target->setObjectName(QStringLiteral("ImgGo(%1)").arg(index));
        target->setGeometry(targetRects[index]);
        target->setPixmap(Artwork(pictures[index]));
        target->setToolTip(index == 0 ? encryptTip : decryptTip);
        connect(target, &ImageTarget::dropped, this, &FormMain::ImgGo_OLEDragDrop);
        ImgGo[index] = target;
    }

    LabAuthor =
        new ClickLabel(QStringLiteral("检查升级：") + QString::fromUtf16(kHomePageUrl), this);
    LabAuthor->setObjectName(QStringLiteral("LabAuthor"));
    LabAuthor->setGeometry(12, 159, 226, 13);
    LabAuthor->setFont(SongTiFont(9, false));
    SetForeColor(*LabAuthor, Qt::white);
    LabAuthor->setCursor(Qt::WhatsThisCursor);
    connect(LabAuthor, &ClickLabel::clicked, this, &FormMain::LabAuthor_Click);

    ImageTitle = new QLabel(this);
    ImageTitle->setObjectName(QStringLiteral("ImageTitle"));
    ImageTitle->setGeometry(0, 0, 256, 25);
    ImageTitle->setPixmap(Artwork(QStringLiteral("title")));
    ImageTitle->installEventFilter(this);

    LabQuit = new ClickLabel(this);
    LabQuit->setObjectName(QStringLiteral("LabQuit"));
    LabQuit->setGeometry(228, 0, 28, 25);
    LabQuit->setToolTip(QStringLiteral("退出"));
    connect(LabQuit, &ClickLabel::clicked, this, &FormMain::LabQuit_Click);

    LabProgress = new QLabel(this);
    LabProgress->setObjectName(QStringLiteral("LabProgress"));
    LabProgress->setGeometry(15, 147, kProgressFullWidth, 4);
    SetBackColor(*LabProgress, kTipRed);
    LabProgress->setAttribute(Qt::WA_NoMousePropagation);  // a press on it starts no move

    LabTip[0] =
        MakeTip(this, QStringLiteral("LabTip(0)"), QStringLiteral("加密完成"), {27, 78, 76, 19});
    LabTip[1] =
        MakeTip(this, QStringLiteral("LabTip(1)"), QStringLiteral("解密完成"), {153, 78, 76, 19});
}

void FormMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_centred) {
        m_centred = true;
        CentreOnScreen(*this);
    }
}

void FormMain::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    // Raising from inside a paint could paint again at once; one queued raise per burst of
    // paints is enough and can never loop within a paint.
    if (!m_topmostQueued) {
        m_topmostQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_topmostQueued = false;
                if (isVisible()) {
                    MakeTopmost(*this);
                    emit madeTopmost();
                }
            },
            Qt::QueuedConnection);
    }
}

void FormMain::Form_MouseDown(Qt::MouseButton button, QPointF position) {
    if (button != Qt::LeftButton) {
        return;
    }
    IsDragging = true;
    DownX = static_cast<std::int32_t>(RoundHalfEven(position.x()));
    DownY = static_cast<std::int32_t>(RoundHalfEven(position.y()));
    m_pressPosition = pos();
    if (m_startSystemMove && m_startSystemMove(windowHandle())) {
        // The platform moves the window and keeps the release to itself.
        IsDragging = false;
    }
}

void FormMain::Form_MouseMove(QPointF position) {
    if (!IsDragging) {
        return;
    }
    const QPoint origin = TopLayer::PointerKeepsPressOrigin() ? m_pressPosition : pos();
    const double left = origin.x() + (position.x() - DownX);
    const double top = origin.y() + (position.y() - DownY);
    const QScreen* screen = this->screen();
    const QRect desktop = screen ? screen->virtualGeometry() : QRect(-2184, -2184, 4369, 4369);
    move(ClampedWindowPosition(left, top, frameGeometry().size(), desktop));
}

void FormMain::Form_MouseUp() {
    IsDragging = false;
}

void FormMain::mousePressEvent(QMouseEvent* event) {
    Form_MouseDown(event->button(), event->position());
    event->accept();
}

void FormMain::mouseMoveEvent(QMouseEvent* event) {
    Form_MouseMove(event->position());
    event->accept();
}

void FormMain::mouseReleaseEvent(QMouseEvent* event) {
    Form_MouseUp();
    event->accept();
}

bool FormMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched != ImageTitle) {
        return QWidget::eventFilter(watched, event);
    }
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            Form_MouseDown(mouse->button(), mouse->position());
            return true;
        }
        case QEvent::MouseMove:
            Form_MouseMove(static_cast<QMouseEvent*>(event)->position());
            return true;
        case QEvent::MouseButtonRelease:
            Form_MouseUp();
            return true;
        default:
            return QWidget::eventFilter(watched, event);
    }
}

void FormMain::LabAuthor_Click() {
    OpenUrl(QString::fromUtf16(kHomePageUrl), m_services.openUrl);
}

void FormMain::LabQuit_Click() {
    Unload();
    if (m_unloadLogin) {
        m_unloadLogin();
    }
    m_services.end.EndProgram();
}

void FormMain::closeEvent(QCloseEvent* event) {
    // Closed from outside (a window manager's close): with no other window left, the program
    // ends, as by the quit label.
    event->accept();
    if (!m_unloaded) {
        LabQuit_Click();
    }
}

void FormMain::Unload() {
    if (m_unloaded) {
        return;
    }
    m_unloaded = true;
    m_runner->Stop();
    hide();
}

}  // namespace kestrove
