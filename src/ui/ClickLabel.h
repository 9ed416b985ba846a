#pragma once

#include <QLabel>

namespace kestrove {

// A label that swallows mouse presses (so they never reach the window beneath and start a
// move) and reports a click: a left press and release both inside it.
class ClickLabel : public QLabel {
    Q_OBJECT

  public:
    using QLabel::QLabel;

  signals:
    void clicked();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    bool m_pressed = false;
};

}  // namespace kestrove
