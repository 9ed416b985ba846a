#pragma once

#include <QLabel>

class QMimeData;

namespace kestrove {

// One of the two drop targets: a stretched picture that accepts drags of files as a copy and
// refuses everything else. It swallows mouse presses.
class ImageTarget : public QLabel {
    Q_OBJECT

  public:
    ImageTarget(int index, QWidget* parent);

    [[nodiscard]] int Index() const { return m_index; }

  signals:
    // Emitted inside the drop event; the receiver must copy what it needs before returning.
    void dropped(int index, const QMimeData* data);

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    int m_index;
};

}  // namespace kestrove
