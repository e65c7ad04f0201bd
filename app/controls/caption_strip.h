// A line of captions in the dot font laid out by its spaces: each word goes where its first
// character falls when the whole text, spaces included, is spread evenly over the strip's width.
// So a caption line written for a proportional font ("   32       64  ...") keeps its words under
// the places it meant, however wide the strip is.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

namespace tunefold::controls {

class CaptionStrip : public QWidget {
    Q_OBJECT
public:
    explicit CaptionStrip(const QString& text = QString(), QWidget* parent = nullptr);

    const QString& Text() const { return text_; }
    void SetText(const QString& text);
    QColor Color() const { return color_; }
    void SetColor(const QColor& c);
    // Where word `n` (0-based) starts, in pixels; -1 past the last word.
    int WordLeft(int n) const;

    QSize sizeHint() const override { return {200, 8}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QColor color_{0x7d, 0xff, 0xc8};
};

} // namespace tunefold::controls
