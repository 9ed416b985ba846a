#include "ImageTarget.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMouseEvent>

#include "DropData.h"

namespace kestrove {

namespace {

// A copy is offered only when the source offers one; any other drag is refused. Decided from the
// offered formats alone: the data is read on drop.
void OfferCopy(QDropEvent* event) {
    if (OffersFileList(event->mimeData()) && (event->possibleActions() & Qt::CopyAction)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
    }
}

}  // namespace

ImageTarget::ImageTarget(int index, QWidget* parent) : QLabel(parent), m_index(index) {
    setAcceptDrops(true);
    setScaledContents(true);
}

void ImageTarget::dragEnterEvent(QDragEnterEvent* event) {
    OfferCopy(event);
}

void ImageTarget::dragMoveEvent(QDragMoveEvent* event) {
    OfferCopy(event);
}

void ImageTarget::dropEvent(QDropEvent* event) {
    OfferCopy(event);
    if (event->isAccepted()) {
        emit dropped(m_index, event->mimeData());
    }
}

void ImageTarget::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void ImageTarget::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}

void ImageTarget::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

}  // namespace kestrove
