#include "DialogFrame.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include "TopLayer.h"
#include "WindowLooks.h"

namespace kestrove {

namespace {

constexpr int kIconSize = 16;
constexpr int kCloseWidth = 18;
constexpr int kCloseHeight = 16;
constexpr int kMinCaptionPoints = 6;
const QColor kFrameGrey(212, 208, 200);
const QColor kCaptionDark(10, 36, 106);
const QColor kCaptionLight(166, 202, 240);

}  // namespace

DialogFrame::DialogFrame(QWidget& window, QSize clientSize) : QWidget(&window), m_window(window) {
    setObjectName(QStringLiteral("DialogFrame"));
    setGeometry(0, 0, clientSize.width() + 2 * kBorder,
                clientSize.height() + kCaptionHeight + 2 * kBorder);
    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("DialogClient"));
    m_client->setGeometry(kBorder, kBorder + kCaptionHeight, clientSize.width(),
                          clientSize.height());
    window.setFixedSize(size());
}

QRect DialogFrame::CaptionRect() const {
    return {kBorder, kBorder, width() - 2 * kBorder, kCaptionHeight};
}

QRect DialogFrame::CloseBox() const {
    const QRect caption = CaptionRect();
    return {caption.right() - 2 - kCloseWidth + 1,
            caption.top() + (caption.height() - kCloseHeight) / 2, kCloseWidth, kCloseHeight};
}

QRect DialogFrame::TextRect() const {
    const QRect caption = CaptionRect();
    const int left = caption.left() + 3 + kIconSize + 3;
    return {left, caption.top(), CloseBox().left() - 3 - left, caption.height()};
}

QFont DialogFrame::CaptionFont() const {
    QFont font = SongTiFont(9, true);
    while (font.pointSize() > kMinCaptionPoints &&
           QFontMetrics(font).horizontalAdvance(m_window.windowTitle()) > TextRect().width()) {
        font.setPointSize(font.pointSize() - 1);
    }
    return font;
}

void DialogFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // A raised border, as a fixed dialog frame has.
    painter.fillRect(rect(), kFrameGrey);
    painter.setPen(Qt::white);
    painter.drawLine(0, 0, width() - 1, 0);
    painter.drawLine(0, 0, 0, height() - 1);
    painter.setPen(QColor(64, 64, 64));
    painter.drawLine(0, height() - 1, width() - 1, height() - 1);
    painter.drawLine(width() - 1, 0, width() - 1, height() - 1);

    const QRect caption = CaptionRect();
    QLinearGradient gradient(caption.topLeft(), caption.topRight());
    gradient.setColorAt(0, kCaptionDark);
    gradient.setColorAt(1, kCaptionLight);
    painter.fillRect(caption, gradient);
    const QIcon icon = m_window.windowIcon();
    icon.paint(&painter,
               QRect(caption.left() + 3, caption.top() + (caption.height() - kIconSize) / 2,
                     kIconSize, kIconSize));
    painter.setFont(CaptionFont());
    painter.setPen(Qt::white);
    painter.drawText(TextRect(), Qt::AlignLeft | Qt::AlignVCenter, m_window.windowTitle());

    const QRect box = CloseBox();
    painter.fillRect(box, kFrameGrey);
    painter.setPen(m_closePressed ? QColor(64, 64, 64) : Qt::white);
    painter.drawLine(box.topLeft(), box.topRight());
    painter.drawLine(box.topLeft(), box.bottomLeft());
    painter.setPen(m_closePressed ? Qt::white : QColor(64, 64, 64));
    painter.drawLine(box.bottomLeft(), box.bottomRight());
    painter.drawLine(box.topRight(), box.bottomRight());
    QPen cross(Qt::black, 2);
    painter.setPen(cross);
    const QRect mark = box.adjusted(5, 4, -5, -4);
    painter.drawLine(mark.topLeft(), mark.bottomRight());
    painter.drawLine(mark.bottomLeft(), mark.topRight());
}

void DialogFrame::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const QPoint at = event->position().toPoint();
    if (CloseBox().contains(at)) {
        m_closePressed = true;
        update();
        return;
    }
    if (!CaptionRect().contains(at)) {
        return;
    }
    QWindow* handle = m_window.windowHandle();
    if (handle && handle->startSystemMove()) {
        return;
    }
    // No move by the platform (the overlay layer, or X11 without a window manager): the window
    // follows the pointer, the grabbed point staying under it.
    m_dragging = true;
    m_down = at;
    m_pressPosition = m_window.pos();
}

void DialogFrame::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (m_dragging) {
        const QPoint origin =
            TopLayer::PointerKeepsPressOrigin() ? m_pressPosition : m_window.pos();
        m_window.move(origin + (event->position().toPoint() - m_down));
    }
}

void DialogFrame::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    m_dragging = false;
    if (m_closePressed) {
        m_closePressed = false;
        update();
        if (event->button() == Qt::LeftButton && CloseBox().contains(event->position().toPoint())) {
            m_window.close();
        }
    }
}

}  // namespace kestrove
