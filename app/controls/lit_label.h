// A short label in the 5 x 7 dot font that is either lit or unlit ("PLAY", "STOP", "LAYER"): the
// window switches the flag, the scheme gives both colours. The background is the parent's face
// unless a back colour is set.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

class QPainter;

namespace tunefold::controls {

class LitLabel : public QWidget {
    Q_OBJECT
public:
    explicit LitLabel(const QString& text = QString(), QWidget* parent = nullptr);

    const QString& Text() const { return text_; }
    void SetText(const QString& text);
    bool Lit() const { return lit_; }
    void SetLit(bool lit);
    QColor LitColor() const { return litColor_; }
    void SetLitColor(const QColor& c);
    QColor UnlitColor() const { return unlitColor_; }
    void SetUnlitColor(const QColor& c);
    // Invalid (the default): transparent.
    void SetBackColor(const QColor& c);
    // Logical pixels per dot of the font.
    void SetPixelSize(int px);
    // The colour the text is drawn in now.
    QColor CurrentColor() const { return lit_ ? litColor_ : unlitColor_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    bool lit_ = false;
    QColor litColor_{0x7d, 0xff, 0xc8};
    QColor unlitColor_{0x1c, 0x33, 0x2c};
    QColor back_;
    int px_ = 1;
};

// Draws `text` in the dot font with its top left at `origin`, `px` logical pixels per dot; returns the
// width drawn. Shared by the controls that letter their faces.
int DrawDotText(QPainter& painter, QPoint origin, const QString& text, const QColor& color, int px = 1);
int DotTextWidth(const QString& text, int px = 1);

} // namespace tunefold::controls
