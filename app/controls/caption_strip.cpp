#include "app/controls/caption_strip.h"

#include <QPainter>

#include "app/controls/lit_label.h"

namespace tunefold::controls {

CaptionStrip::CaptionStrip(const QString& text, QWidget* parent) : QWidget(parent), text_(text) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CaptionStrip::SetText(const QString& text) {
    if (text_ != text) {
        text_ = text;
        update();
    }
}

void CaptionStrip::SetColor(const QColor& c) {
    if (color_ != c) {
        color_ = c;
        update();
    }
}

int CaptionStrip::WordLeft(int n) const {
    const qsizetype length = text_.size();
    if (length == 0) {
        return -1;
    }
    int word = -1;
    for (qsizetype i = 0; i < length; ++i) {
        const bool starts = text_[i] != u' ' && (i == 0 || text_[i - 1] == u' ');
        if (starts && ++word == n) {
            return static_cast<int>(i * width() / length);
        }
    }
    return -1;
}

void CaptionStrip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QStringList words = text_.split(u' ', Qt::SkipEmptyParts);
    for (int n = 0; n < words.size(); ++n) {
        // A word that would run past the right edge ends there.
        const int x = std::min(WordLeft(n), width() - DotTextWidth(words[n]));
        DrawDotText(p, QPoint(x, (height() - 7) / 2), words[n], color_);
    }
}

} // namespace tunefold::controls
