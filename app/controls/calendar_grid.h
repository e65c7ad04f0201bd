// A grid of numbered cells (5 x 5 by default, numbered 1 .. 25 row by row), each lit or dark: the CD
// player marks the tracks still to come with it. The lit cells draw their number in the grid's
// colour on a tinted ground; dark cells draw the number faintly, so the grid reads as a grid even
// when nothing is lit.
#pragma once

#include <QColor>
#include <QWidget>

#include <vector>

namespace tunefold::controls {

class CalendarGrid : public QWidget {
    Q_OBJECT

public:
    explicit CalendarGrid(int columns = 5, int rows = 5, QWidget* parent = nullptr);

    int Columns() const { return columns_; }
    int Rows() const { return rows_; }
    int CellCount() const { return columns_ * rows_; }
    // Cell `n` is 1-based; numbers outside the grid are ignored (and read as dark).
    bool Lit(int n) const;
    void SetLit(int n, bool lit);
    void SetAllLit(bool lit);
    int LitCount() const;
    QColor Color() const { return color_; }
    void SetColor(const QColor& c);
    void SetBackColor(const QColor& c);
    // The rectangle of cell `n` in the widget.
    QRect CellRect(int n) const;

    QSize sizeHint() const override { return {columns_ * 20, rows_ * 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int columns_;
    int rows_;
    std::vector<bool> lit_;
    QColor color_{0x00, 0xff, 0xff};
    QColor back_{0x06, 0x10, 0x12};
};

} // namespace tunefold::controls
