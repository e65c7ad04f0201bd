// A bitmap button of the hi-fi face: either a strip of face pictures (up, down, disabled; drawn
// nearest-neighbour so pixel art stays crisp at any device pixel ratio) or, without one, a bevelled
// key with a transport symbol painted on it. The hint shows as the tooltip. A disabled button
// draws greyed and emits no click.
// Presses of every button stay with the control, so a press on it never drags the window it sits on
// (see BlotterPanel); only the left button works it.
#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>

class QPainter;

namespace tunefold::controls {

class FaceButton : public QWidget {
    Q_OBJECT
public:
    enum class Symbol { None, Play, Pause, Stop, Previous, Next, Open, Playlist };

    explicit FaceButton(Symbol symbol = Symbol::None, QWidget* parent = nullptr);

    Symbol GetSymbol() const { return symbol_; }
    void SetSymbol(Symbol symbol);
    const QString& Hint() const { return hint_; }
    void SetHint(const QString& hint);
    // Frames side by side, each as wide as the strip is high times the button's aspect: frame 0 up,
    // 1 pressed, 2 disabled (a strip of fewer frames reuses frame 0).
    void SetFaces(const QImage& strip, int frames);
    // A word lettered on the key in the dot font, for keys without a symbol (empty: none).
    const QString& Lettering() const { return lettering_; }
    void SetLettering(const QString& text);
    QColor SymbolColor() const { return symbolColor_; }
    void SetSymbolColor(const QColor& c);

    bool IsPressed() const { return pressed_; }
    // As a mouse click: emits clicked when the button is enabled.
    void Click();

    QSize sizeHint() const override { return {30, 22}; }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void PaintKey(QPainter& p) const;
    void PaintSymbol(QPainter& p, QRect box) const;
    void SetPressed(bool pressed);

    Symbol symbol_;
    QString hint_;
    QString lettering_;
    QImage faces_;
    int frames_ = 0;
    QColor symbolColor_{0x7d, 0xff, 0xc8};
    bool pressed_ = false;  // drawn pressed: the left button is down and the mouse is on the button
    bool tracking_ = false; // the left button went down on this button
};

} // namespace tunefold::controls
