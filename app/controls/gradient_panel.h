// A panel filled with a two-colour gradient, top to bottom or left to right.
#pragma once

#include <QColor>
#include <QWidget>

namespace tunefold::controls {

class GradientPanel : public QWidget {
    Q_OBJECT
public:
    explicit GradientPanel(QWidget* parent = nullptr);

    void SetColors(const QColor& begin, const QColor& end);
    QColor BeginColor() const { return begin_; }
    QColor EndColor() const { return end_; }
    void SetHorizontal(bool horizontal);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor begin_{0x30, 0x34, 0x3a};
    QColor end_{0x10, 0x12, 0x15};
    bool horizontal_ = false;
};

} // namespace tunefold::controls
