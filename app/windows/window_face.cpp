#include "app/windows/window_face.h"

#include <QFont>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>

namespace tunefold::windows {

namespace {
const QColor kShadow(0x0c, 0x0d, 0x0f);

// `text` with its shadow one pixel down and right (`shadowShift` further for the second line).
void Engraved(QPainter& p, const QRect& box, int flags, const QString& text, const QColor& colour,
              const QPoint& shadowShift = QPoint(1, 1)) {
    p.setPen(kShadow);
    p.drawText(box.translated(shadowShift), flags, text);
    p.setPen(colour);
    p.drawText(box, flags, text);
}
} // namespace

void PaintFaceTitle(QPainter& p, const QRect& words, const QString& window) {
    QFont font = p.font();
    font.setPixelSize(15);
    font.setBold(true);
    p.setFont(font);
    Engraved(p, words, Qt::AlignLeft, QStringLiteral("Tunefold"), QColor(0x8a, 0x90, 0x9a));
    font.setPixelSize(11);
    font.setBold(false);
    p.setFont(font);
    Engraved(p, words.translated(0, 20), Qt::AlignLeft, window, QColor(0x70, 0x76, 0x80), QPoint(1, 1));
}

void EngraveLabel(QPainter& p, const QRect& box, const QString& text) {
    QFont font = p.font();
    font.setPixelSize(8);
    font.setBold(false);
    p.setFont(font);
    Engraved(p, box, Qt::AlignHCenter | Qt::AlignTop, text, QColor(0x9a, 0xa0, 0xaa));
}

bool FaceDrag::Press(QWidget& window, QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return false;
    }
    dragging_ = true;
    offset_ = event->globalPosition().toPoint() - window.frameGeometry().topLeft();
    return true;
}

void FaceDrag::Move(QWidget& window, QMouseEvent* event) const {
    if (dragging_) {
        window.move(event->globalPosition().toPoint() - offset_);
    }
}

void FaceDrag::Release(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = false;
    }
}

} // namespace tunefold::windows
