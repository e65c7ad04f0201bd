// A panel with an outer and an inner bevel (raised or lowered) around a face of one colour; its
// children sit inside. Each bevel is a frame of `width` pixels, light on the top and left edges and
// dark on the bottom and right when raised, the other way round when lowered.
#pragma once

#include <QColor>
#include <QMargins>
#include <QWidget>

class QPainter;

namespace tunefold::controls {

enum class BevelStyle { None, Raised, Lowered };

class BevelPanel : public QWidget {
    Q_OBJECT
public:
    explicit BevelPanel(QWidget* parent = nullptr);

    void SetOuter(BevelStyle style);
    void SetInner(BevelStyle style);
    BevelStyle Outer() const { return outer_; }
    BevelStyle Inner() const { return inner_; }
    void SetBevelWidth(int width);
    int BevelWidth() const { return width_; }
    // Highlight and shadow of each bevel.
    void SetOuterColors(const QColor& highlight, const QColor& shadow);
    void SetInnerColors(const QColor& highlight, const QColor& shadow);
    void SetFaceColor(const QColor& c);
    QColor FaceColor() const { return face_; }
    // The room the bevels take on each side.
    QMargins BevelMargins() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void PaintBevel(QPainter& p, QRect r, BevelStyle style, const QColor& hi, const QColor& lo) const;

    BevelStyle outer_ = BevelStyle::Raised;
    BevelStyle inner_ = BevelStyle::None;
    int width_ = 1;
    QColor outerHi_{0x6a, 0x70, 0x7a};
    QColor outerLo_{0x0b, 0x0c, 0x0e};
    QColor innerHi_{0x6a, 0x70, 0x7a};
    QColor innerLo_{0x0b, 0x0c, 0x0e};
    QColor face_{0x22, 0x25, 0x2a};
};

} // namespace tunefold::controls
