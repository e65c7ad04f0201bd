// A dot-matrix text line of a fixed number of 5 x 7 character cells, LCD style: every dot of every
// cell is drawn, lit in the high colour, unlit in the low colour. With scrolling on, each Step (a
// timer of the window drives it) moves the text one character to the left; the text runs round with
// a short gap between its end and its start. A character without a glyph shows as a blank cell.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <vector>

namespace tunefold::controls {

class DotMatrix : public QWidget {
    Q_OBJECT
public:
    // Blank cells between the end of a scrolling text and its next start.
    static constexpr int kScrollGap = 3;

    explicit DotMatrix(int chars = 12, QWidget* parent = nullptr);

    int Chars() const { return chars_; }
    void SetChars(int chars);
    const QString& Text() const { return text_; }
    // A new text starts at its first character.
    void SetText(const QString& text);
    bool Scroll() const { return scroll_; }
    // Turning scrolling off shows the text from its first character again.
    void SetScroll(bool on);
    // One character further (nothing while scrolling is off).
    void Step();
    int Offset() const { return offset_; }

    QColor LowColor() const { return low_; }
    void SetLowColor(const QColor& c);
    QColor HighColor() const { return high_; }
    void SetHighColor(const QColor& c);
    QColor BackColor() const { return back_; }
    void SetBackColor(const QColor& c);
    // Logical pixels per dot and between dots.
    int DotSize() const { return dot_; }
    void SetDotSize(int size, int gap);

    // The code points in the cells now, blanks included (tests and the compact views read it).
    std::vector<char32_t> Cells() const;
    // The same as a string.
    QString VisibleText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<char32_t> Loop() const;
    void Changed();

    int chars_;
    QString text_;
    std::vector<char32_t> codes_;
    bool scroll_ = false;
    int offset_ = 0;
    QColor low_{0x1c, 0x33, 0x2c};
    QColor high_{0x7d, 0xff, 0xc8};
    QColor back_{0x08, 0x12, 0x10};
    int dot_ = 2;
    int gap_ = 1;
};

} // namespace tunefold::controls
