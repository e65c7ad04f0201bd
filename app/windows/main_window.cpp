#include "app/windows/main_window.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include "app/controls/color_ref.h"
#include "app/controls/dot_matrix.h"
#include "app/controls/face_button.h"
#include "app/controls/lit_label.h"
#include "app/controls/power_switch.h"
#include "app/controls/raster_host.h"
#include "app/controls/rotary_wheel.h"
#include "app/controls/segment_clock.h"
#include "app/controls/track_bar.h"
#include "app/controls/window_shaper.h"
#include "engine/displays/leds.h"
#include "engine/framework/resources.h"

namespace tunefold::windows {

namespace {

// Where the face has its recesses (tools/skin_art.cpp draws the same rectangles).
constexpr QRect kDisplay{14, 14, 378, 110};
constexpr QRect kKeyWell{12, 150, 252, 26};
constexpr QRect kTrackSlot{14, 130, 378, 14};
constexpr QRect kSwitchWell{410, 104, 30, 42};
constexpr QPoint kKnobCentre{494, 126};

// The display's default palette until the colour schemes take over.
const QColor kLit{0x7d, 0xff, 0xc8};
const QColor kUnlit{0x1c, 0x33, 0x2c};
const QColor kGlass{0x08, 0x12, 0x10};
// Unlit segments are large: they stay dimmer than unlit dots, or every digit reads as an 8.
const QColor kUnlitSegment{0x11, 0x22, 0x1d};

QImage LoadFace() {
    if (std::optional<TRaster> skin = LoadBitmapResource("skin0")) {
        return controls::RasterToImage(*skin);
    }
    QImage plain(MainWindow::kWidth, MainWindow::kHeight, QImage::Format_RGB32);
    plain.fill(QColor(0x22, 0x25, 0x2a));
    return plain;
}

controls::LitLabel* Caption(QWidget* parent, const QString& text, QPoint at) {
    auto* label = new controls::LitLabel(text, parent);
    label->SetLitColor(kLit);
    label->SetUnlitColor(QColor(0x4a, 0x8a, 0x74));
    label->SetLit(true);
    label->move(at);
    return label;
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QWidget(parent, Qt::FramelessWindowHint), face_(LoadFace()) {
    setWindowTitle(QStringLiteral("Tunefold File Player"));
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    controls::WindowShaper::Apply(*this, face_);
    BuildControls();

    popup_ = new QMenu(this);
    Exit1 = new QAction(QStringLiteral("E&xit"), this);
    Exit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    Exit1->setShortcutContext(Qt::WindowShortcut);
    connect(Exit1, &QAction::triggered, this, &QWidget::close);
    addAction(Exit1);
    popup_->addAction(Exit1);
}

MainWindow::~MainWindow() {
    // The hosts refer to the panels: they go first.
    delete ledHost1_;
    delete ledHost2_;
}

void MainWindow::BuildControls() {
    using controls::FaceButton;

    VrMatrix1 = new controls::DotMatrix(12, this);
    VrMatrix1->move(kDisplay.left() + 10, kDisplay.top() + 8);
    VrMatrix1->SetText(QStringLiteral("NO FILE"));
    VrMatrix2 = new controls::DotMatrix(12, this);
    VrMatrix2->move(kDisplay.left() + 10, kDisplay.top() + 36);

    Label9 = new controls::LitLabel(QStringLiteral("PLAY"), this);
    Label11 = new controls::LitLabel(QStringLiteral("PAUSE"), this);
    Label10 = new controls::LitLabel(QStringLiteral("STOP"), this);
    lblLayer = new controls::LitLabel(QStringLiteral("LAYER"), this);
    lblLayer2 = new controls::LitLabel(QString(), this);
    int x = kDisplay.left() + 12;
    for (controls::LitLabel* l : {Label9, Label11, Label10, lblLayer, lblLayer2}) {
        l->SetLitColor(kLit);
        l->SetUnlitColor(kUnlit);
        l->move(x, kDisplay.top() + 70);
        x += l->width() + 12;
    }

    // Counters PR and TR: the engine's LED panels.
    int column = kDisplay.left() + 236;
    Caption(this, QStringLiteral("PR"), {column, kDisplay.top() + 8});
    Caption(this, QStringLiteral("TR"), {column, kDisplay.top() + 44});
    ledPanel1_ = std::make_unique<TMMLEDPanel>();
    ledPanel2_ = std::make_unique<TMMLEDPanel>();
    for (TMMLEDPanel* panel : {ledPanel1_.get(), ledPanel2_.get()}) {
        panel->Bevel().SetBevelOuter(bvNone); // the face's glass is the frame
        panel->SetDigitSize(ls11x19);
        panel->SetNumDigits(2);
        panel->SetColor(controls::RefFromColor(kGlass));
        panel->SetLEDColor(controls::RefFromColor(kLit));
        panel->SetInactiveColor(controls::RefFromColor(kUnlit));
        panel->SetValue(0);
        panel->SetEnabled(false);
    }
    ledHost1_ = new controls::RasterHost(*ledPanel1_, this);
    ledHost1_->move(column, kDisplay.top() + 18);
    ledHost2_ = new controls::RasterHost(*ledPanel2_, this);
    ledHost2_->move(column, kDisplay.top() + 54);

    // Clocks with their captions.
    column = kDisplay.left() + 300;
    const struct {
        const char* caption;
        controls::SegmentClock** clock;
    } clocks[] = {{"CLOCK", &VrClock1}, {"ELAPSED", &VrClock2}, {"LENGTH", &VrClock3}};
    int y = kDisplay.top() + 6;
    for (const auto& c : clocks) {
        Caption(this, QString::fromLatin1(c.caption), {column + 2, y});
        auto* clock = new controls::SegmentClock(this);
        clock->SetHighColor(kLit);
        clock->SetLowColor(kUnlitSegment);
        clock->SetBackColor(kGlass);
        clock->move(column, y + 9);
        *c.clock = clock;
        y += 34;
    }

    RzTrackBar1 = new controls::TrackBar(this);
    RzTrackBar1->setGeometry(kTrackSlot.adjusted(2, 0, -2, 0));
    RzTrackBar1->SetRange(0, 0);
    RzTrackBar1->SetTrackColor(kLit);
    RzTrackBar1->setEnabled(false);

    const struct {
        FaceButton** button;
        FaceButton::Symbol symbol;
        const char* hint;
        int gapBefore;
    } buttons[] = {
        {&RzBmpButton5, FaceButton::Symbol::Previous, "Previous File in the Filelist", 0},
        {&RzBmpButton1, FaceButton::Symbol::Play, "Play", 0},
        {&RzBmpButton2, FaceButton::Symbol::Pause, "Pause/Unpause", 0},
        {&RzBmpButton3, FaceButton::Symbol::Stop, "Stop", 0},
        {&RzBmpButton6, FaceButton::Symbol::Next, "Next File in the Filelist", 0},
        {&RzBmpButton7, FaceButton::Symbol::Open, "File Open...", 12},
        {&RzBmpButton8, FaceButton::Symbol::Playlist, "Playlist Editor...", 0},
    };
    x = kKeyWell.left() + 4;
    for (const auto& b : buttons) {
        x += b.gapBefore;
        auto* button = new FaceButton(b.symbol, this);
        button->SetHint(QString::fromLatin1(b.hint));
        button->setGeometry(x, kKeyWell.top() + 2, 30, 22);
        button->setEnabled(false);
        *b.button = button;
        x += 30 + 4;
    }

    VrSwitch1 = new controls::PowerSwitch(this);
    VrSwitch1->setGeometry(kSwitchWell.adjusted(4, 4, -4, -4));

    MMWheel1 = new controls::RotaryWheel(this);
    MMWheel1->setGeometry(kKnobCentre.x() - 30, kKnobCentre.y() - 30, 60, 60);
    MMWheel1->SetRange(0, 32768);
    MMWheel1->SetValue(16384);
    MMWheel1->setToolTip(QStringLiteral("Pre-Volume Control"));
    MMWheel1->setEnabled(false);
}

void MainWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.drawImage(rect(), face_);
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) {
        move(event->globalPosition().toPoint() - dragOffset_);
    }
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = false;
    }
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    popup_->popup(event->globalPos());
}

} // namespace tunefold::windows
