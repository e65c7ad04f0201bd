#include "app/controls/calendar_grid.h"

#include <QPainter>

#include <algorithm>

#include "app/controls/lit_label.h"

namespace tunefold::controls {

CalendarGrid::CalendarGrid(int columns, int rows, QWidget* parent)
    : QWidget(parent), columns_(std::max(1, columns)), rows_(std::max(1, rows)),
      lit_(static_cast<std::size_t>(columns_ * rows_), false) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(sizeHint());
}

bool CalendarGrid::Lit(int n) const {
    return n >= 1 && n <= CellCount() && lit_[static_cast<std::size_t>(n - 1)];
}

void CalendarGrid::SetLit(int n, bool lit) {
    if (n < 1 || n > CellCount() || lit_[static_cast<std::size_t>(n - 1)] == lit) {
        return;
    }
    lit_[static_cast<std::size_t>(n - 1)] = lit;
    update(CellRect(n));
}

void CalendarGrid::SetAllLit(bool lit) {
    if (std::all_of(lit_.begin(), lit_.end(), [lit](bool b) { return b == lit; })) {
        return;
    }
    std::fill(lit_.begin(), lit_.end(), lit);
    update();
}

int CalendarGrid::LitCount() const {
    return static_cast<int>(std::count(lit_.begin(), lit_.end(), true));
}

void CalendarGrid::SetColor(const QColor& c) {
    if (c != color_) {
        color_ = c;
        update();
    }
}

void CalendarGrid::SetBackColor(const QColor& c) {
    if (c != back_) {
        back_ = c;
        update();
    }
}

QRect CalendarGrid::CellRect(int n) const {
    if (n < 1 || n > CellCount()) {
        return {};
    }
    const int i = n - 1;
    const int col = i % columns_;
    const int row = i / columns_;
    // The cells share the width and height out evenly; the remainder goes to the last ones.
    const int x0 = col * width() / columns_;
    const int x1 = (col + 1) * width() / columns_;
    const int y0 = row * height() / rows_;
    const int y1 = (row + 1) * height() / rows_;
    return {x0, y0, x1 - x0, y1 - y0};
}

void CalendarGrid::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), back_);
    const QColor faint = QColor::fromRgbF(back_.redF() * 0.6f + color_.redF() * 0.4f * 0.5f,
                                          back_.greenF() * 0.6f + color_.greenF() * 0.4f * 0.5f,
                                          back_.blueF() * 0.6f + color_.blueF() * 0.4f * 0.5f);
    const QColor ground = QColor::fromRgbF(back_.redF() * 0.75f + color_.redF() * 0.25f,
                                           back_.greenF() * 0.75f + color_.greenF() * 0.25f,
                                           back_.blueF() * 0.75f + color_.blueF() * 0.25f);
    for (int n = 1; n <= CellCount(); ++n) {
        const QRect cell = CellRect(n).adjusted(1, 1, -1, -1);
        const bool lit = lit_[static_cast<std::size_t>(n - 1)];
        if (lit) {
            p.fillRect(cell, ground);
        }
        p.setPen(lit ? color_ : faint);
        p.setBrush(Qt::NoBrush);
        p.drawRect(cell.adjusted(0, 0, -1, -1));
        const QString text = QString::number(n);
        const int w = DotTextWidth(text);
        DrawDotText(p, QPoint(cell.left() + (cell.width() - w) / 2, cell.top() + (cell.height() - 7) / 2),
                    text, lit ? color_ : faint);
    }
}

} // namespace tunefold::controls
