#pragma once

#include <QPoint>
#include <QWidget>

namespace kestrove {

// A fixed dialog border drawn by the window itself: a title bar with the window's icon, its whole
// caption and a close box (no minimise or maximise button), and a thin border around the client
// area. For platforms whose own title bar cannot look that way (Qt's Wayland platform draws one
// with minimise and maximise buttons and cuts a long caption; the overlay layer has none at all).
// The window itself is frameless then, and its controls go into Client().
class DialogFrame : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kBorder = 3;
    static constexpr int kCaptionHeight = 22;

    // Makes the frame fill window, around a client area of clientSize.
    DialogFrame(QWidget& window, QSize clientSize);

    [[nodiscard]] QWidget* Client() const { return m_client; }
    // Where the close box is, in the frame's coordinates.
    [[nodiscard]] QRect CloseBox() const;
    // The caption's font: the title font, smaller where needed so that the whole caption fits.
    [[nodiscard]] QFont CaptionFont() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    [[nodiscard]] QRect CaptionRect() const;
    [[nodiscard]] QRect TextRect() const;

    QWidget& m_window;
    QWidget* m_client = nullptr;
    bool m_dragging = false;
    bool m_closePressed = false;
    QPoint m_down;
    QPoint m_pressPosition;
};

}  // namespace kestrove
