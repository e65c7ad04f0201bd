#include "app/controls/segment_clock.h"

#include <QPainter>

#include <algorithm>

namespace tunefold::controls {

namespace {

constexpr int kMargin = 2;
constexpr int kDigitGap = 2;
// Which segments each digit lights (bit 0 = a, the top, ... bit 6 = g, the middle).
constexpr unsigned kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

} // namespace

SegmentClock::SegmentClock(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(sizeHint());
}

void SegmentClock::SetFirst(int value) {
    value = std::clamp(value, 0, 99);
    if (value == first_) {
        return;
    }
    first_ = value;
    update();
}

void SegmentClock::SetSecond(int value) {
    value = std::clamp(value, 0, 99);
    if (value == second_) {
        return;
    }
    second_ = value;
    update();
}

QString SegmentClock::Text() const {
    return QStringLiteral("%1:%2").arg(first_, 2, 10, QLatin1Char('0')).arg(second_, 2, 10, QLatin1Char('0'));
}

void SegmentClock::SetHighColor(const QColor& c) {
    high_ = c;
    update();
}

void SegmentClock::SetLowColor(const QColor& c) {
    low_ = c;
    update();
}

void SegmentClock::SetBackColor(const QColor& c) {
    back_ = c;
    update();
}

void SegmentClock::SetDigitSize(int width, int height, int thickness) {
    thick_ = std::max(1, thickness);
    digitW_ = std::max(3 * thick_, width);
    digitH_ = std::max(5 * thick_, height);
    setFixedSize(sizeHint());
    update();
}

QSize SegmentClock::sizeHint() const {
    const int colon = thick_ + 2 * kDigitGap;
    return {2 * kMargin + 4 * digitW_ + 2 * kDigitGap + colon, 2 * kMargin + digitH_};
}

void SegmentClock::PaintDigit(QPainter& p, int x, int digit) const {
    const int t = thick_, w = digitW_, h = digitH_, y = kMargin;
    const int midTop = (h - t) / 2;
    // Segments stop one pixel short of each other, as the glass of a real display shows them.
    const QRect seg[7] = {
        {x + t + 1, y, w - 2 * t - 2, t},                           // a
        {x + w - t, y + t + 1, t, midTop - t - 1},                  // b
        {x + w - t, y + midTop + t + 1, t, h - midTop - 2 * t - 2}, // c
        {x + t + 1, y + h - t, w - 2 * t - 2, t},                   // d
        {x, y + midTop + t + 1, t, h - midTop - 2 * t - 2},         // e
        {x, y + t + 1, t, midTop - t - 1},                          // f
        {x + t + 1, y + midTop, w - 2 * t - 2, t},                  // g
    };
    const unsigned lit = kSegments[std::clamp(digit, 0, 9)];
    for (int k = 0; k < 7; ++k) {
        p.fillRect(seg[k], (lit >> k) & 1u ? high_ : low_);
    }
}

void SegmentClock::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), back_);
    int x = kMargin;
    PaintDigit(p, x, first_ / 10);
    x += digitW_ + kDigitGap;
    PaintDigit(p, x, first_ % 10);
    x += digitW_ + kDigitGap;
    const int midTop = (digitH_ - thick_) / 2;
    p.fillRect(QRect(x, kMargin + midTop / 2, thick_, thick_), high_);
    p.fillRect(QRect(x, kMargin + midTop + (digitH_ - midTop) / 2, thick_, thick_), high_);
    x += thick_ + kDigitGap;
    PaintDigit(p, x, second_ / 10);
    x += digitW_ + kDigitGap;
    PaintDigit(p, x, second_ % 10);
}

} // namespace tunefold::controls
