#include "app/windows/cd_player_window.h"

#include "app/windows/window_face.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

#include "app/controls/calendar_grid.h"
#include "app/controls/color_ref.h"
#include "app/controls/face_button.h"
#include "app/controls/lit_label.h"
#include "app/controls/power_switch.h"
#include "app/controls/raster_host.h"
#include "app/controls/rotary_wheel.h"
#include "app/controls/segment_clock.h"
#include "app/controls/track_bar.h"
#include "app/controls/window_shaper.h"
#include "app/logic/program_folder.h"
#include "app/windows/colour_slots.h"
#include "app/windows/equalizer_window.h"
#include "app/windows/main_window.h"
#include "app/windows/player_menu.h"
#include "engine/displays/leds.h"
#include "engine/displays/level.h"

namespace tunefold::windows {

namespace {

using controls::ColorFromRef;

constexpr QRect kDisplay{12, 12, 396, 134};
constexpr QRect kKeyWell{12, 150, 396, 26};
constexpr QRect kSwitchWell{420, 104, 30, 42};
constexpr QPoint kKnobCentre{494, 126};
constexpr QRect kMeters{296, 24, 104, 30};
constexpr int kKeyWidth = 44;
constexpr std::uint32_t kGlass = 0x120E06; // the display's dark ground, a colour reference

QImage LoadOutline(const std::string& folder) {
    const std::optional<TRaster> skin = ReadSkinFile(folder);
    if (!skin) {
        return {};
    }
    return controls::RasterToImage(*skin).scaled(CdPlayerWindow::kWidth, CdPlayerWindow::kHeight,
                                                 Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

controls::LitLabel* Label(QWidget* parent, const char* text, QPoint at) {
    auto* label = new controls::LitLabel(QString::fromLatin1(text), parent);
    label->move(at);
    label->SetLit(true);
    return label;
}

void Paint(controls::LitLabel& label, std::uint32_t colour) {
    label.SetLitColor(ColorFromRef(colour));
    label.SetUnlitColor(ColorFromRef(colour));
    label.SetLit(true);
}

} // namespace

CdPlayerWindow::CdPlayerWindow(MainWindow& main, EqualizerWindow& equalizer, const std::string& programFolder,
                               TCdRoute route, platform::CdAudioDevice* device, QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint), main_(main) {
    setWindowTitle(QStringLiteral("Tunefold CD Player"));
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);

    // Without the picture the outline stays rectangular; the equalizer window has already said so.
    outline_ = LoadOutline(programFolder);
    shaped_ = !outline_.isNull();
    if (shaped_) {
        controls::WindowShaper::Apply(*this, outline_);
    }

    cd_ = std::make_unique<TCdPlayer>(main_.Player(), equalizer.Controller(), *this, route, device);
    BuildControls();
    main_.Menu().AttachTo(*this);
    main_.Menu().OnShowCdPlayer = [this] { ShowWindow(true); };
    Wire();
    Apply();
}

CdPlayerWindow::~CdPlayerWindow() {
    main_.Menu().OnShowCdPlayer = nullptr;
    // The hosts refer to the controller's meters and to our panels.
    for (controls::RasterHost* host : {ledHost1_, ledHost2_, meterHost1_, meterHost2_, scaleHost_}) {
        delete host;
    }
    cd_.reset();
}

void CdPlayerWindow::BuildControls() {
    using controls::FaceButton;

    VrCalendar1 = new controls::CalendarGrid(5, 5, this);
    VrCalendar1->setGeometry(kDisplay.left() + 8, kDisplay.top() + 10, 100, 80);
    VrCalendar1->SetBackColor(ColorFromRef(kGlass));

    auto panel = [] {
        auto p = std::make_unique<TMMLEDPanel>();
        p->Bevel().SetBevelOuter(bvNone);
        p->SetDigitSize(ls11x19);
        p->SetNumDigits(2);
        p->SetMaxValue(99);
        p->SetZeroBlank(true);
        p->SetValue(0);
        p->SetEnabled(false);
        p->SetColor(kGlass);
        p->SetLEDColor(0xFFFF00);
        p->SetInactiveColor(0x302008);
        return p;
    };
    ledPanel1_ = panel();
    ledPanel2_ = panel();
    const int col2 = kDisplay.left() + 122;
    LabelPR = Label(this, "PR", {col2, kDisplay.top() + 10});
    ledHost1_ = new controls::RasterHost(*ledPanel1_, this);
    ledHost1_->move(col2, kDisplay.top() + 20);
    LabelTR = Label(this, "TR", {col2, kDisplay.top() + 56});
    ledHost2_ = new controls::RasterHost(*ledPanel2_, this);
    ledHost2_->move(col2, kDisplay.top() + 66);

    const int col3 = kDisplay.left() + 176;
    LabelElapsed = Label(this, "ELAPSED", {col3, kDisplay.top() + 10});
    VrClock2 = new controls::SegmentClock(this);
    VrClock2->move(col3, kDisplay.top() + 20);
    LabelLength = Label(this, "LENGTH", {col3, kDisplay.top() + 56});
    VrClock3 = new controls::SegmentClock(this);
    VrClock3->move(col3, kDisplay.top() + 66);
    for (controls::SegmentClock* clock : {VrClock2, VrClock3}) {
        clock->SetBackColor(ColorFromRef(kGlass));
    }

    // The lights under the clocks and the route under the grid.
    Label9 = Label(this, "PLAY", {col2, kDisplay.top() + 96});
    Label10 = Label(this, "STOP", {col2 + 44, kDisplay.top() + 96});
    Label11 = Label(this, "PAUSE", {col2 + 88, kDisplay.top() + 96});
    LabelRoute = Label(this, cd_->Digital() ? "DIGITAL" : "LINE IN", {VrCalendar1->x(), kDisplay.top() + 96});

    // The meters: left above right, the scale under them.
    const int h = (kMeters.height() - 2) / 2;
    for (TMMLevel* meter : {cd_->Level1(), cd_->Level2()}) {
        meter->SetBounds(0, 0, kMeters.width(), h);
        meter->SetColor(kGlass);
    }
    meterHost1_ = new controls::RasterHost(*cd_->Level1(), this);
    meterHost1_->move(kMeters.topLeft());
    meterHost2_ = new controls::RasterHost(*cd_->Level2(), this);
    meterHost2_->move(kMeters.left(), kMeters.bottom() + 1 - h);
    levelScale_ = std::make_unique<TMMLevelScale>();
    levelScale_->Bevel().SetBevelOuter(bvNone);
    levelScale_->SetBounds(0, 0, kMeters.width(), 12);
    levelScale_->SetColor(kGlass);
    scaleHost_ = new controls::RasterHost(*levelScale_, this);
    scaleHost_->move(kMeters.left(), kMeters.bottom() + 4);
    LabelL = Label(this, "L", {kMeters.left() - 10, kMeters.top() + 2});
    LabelR = Label(this, "R", {kMeters.left() - 10, kMeters.bottom() - 1 - h + 3});
    LabelDB = Label(this, "dB", {kMeters.left() - 14, kMeters.bottom() + 6});

    RzTrackBar1 = new controls::TrackBar(this);
    RzTrackBar1->setGeometry(kDisplay.left() + 8, kDisplay.bottom() - 22, kDisplay.width() - 16, 14);

    const std::array<std::tuple<FaceButton**, FaceButton::Symbol, const char*>, 8> keys{{
        {&RzBmpButton1, FaceButton::Symbol::Play, "Play"},
        {&RzBmpButton2, FaceButton::Symbol::Pause, "Pause"},
        {&RzBmpButton3, FaceButton::Symbol::Stop, "Stop"},
        {&RzBmpButton5, FaceButton::Symbol::Previous, "Previous Track"},
        {&RzBmpButton6, FaceButton::Symbol::Next, "Next Track"},
        {&RzBmpButton7, FaceButton::Symbol::Open, "Open..."},
        {&RzBmpButton8, FaceButton::Symbol::Playlist, "Playlist"},
        {&RzBmpButton9, FaceButton::Symbol::None, "Recent Files"},
    }};
    int x = kKeyWell.left() + 4;
    for (const auto& [slot, symbol, hint] : keys) {
        auto* key = new FaceButton(symbol, this);
        key->SetHint(QString::fromLatin1(hint));
        key->setGeometry(x, kKeyWell.top() + 2, kKeyWidth, 22);
        x += kKeyWidth + 5;
        *slot = key;
    }
    RzBmpButton9->SetLettering(QStringLiteral("RECENT"));
    RzBmpButton4 = new FaceButton(FaceButton::Symbol::None, this);
    RzBmpButton4->SetHint(QStringLiteral("Hide"));
    RzBmpButton4->SetLettering(QStringLiteral("-"));
    RzBmpButton4->setGeometry(kWidth - 34, 10, 20, 14);

    VrSwitch1 = new controls::PowerSwitch(this);
    VrSwitch1->setGeometry(kSwitchWell.adjusted(4, 4, -4, -4));
    MMWheel1 = new controls::RotaryWheel(this);
    MMWheel1->setGeometry(kKnobCentre.x() - 30, kKnobCentre.y() - 30, 60, 60);
    MMWheel1->SetRange(0, 32768);
    MMWheel1->setToolTip(QStringLiteral("CD Volume Control"));
}

void CdPlayerWindow::Wire() {
    const std::array<std::pair<controls::FaceButton*, void (TCdPlayer::*)()>, 7> keys{{
        {RzBmpButton1, &TCdPlayer::RzBmpButton1Click},
        {RzBmpButton2, &TCdPlayer::RzBmpButton2Click},
        {RzBmpButton3, &TCdPlayer::RzBmpButton3Click},
        {RzBmpButton5, &TCdPlayer::RzBmpButton5Click},
        {RzBmpButton6, &TCdPlayer::RzBmpButton6Click},
        {RzBmpButton7, &TCdPlayer::RzBmpButton7Click},
        {RzBmpButton4, &TCdPlayer::RzBmpButton4Click},
    }};
    for (const auto& [key, handler] : keys) {
        connect(key, &controls::FaceButton::clicked, this, [this, h = handler] { ((*cd_).*h)(); });
    }
    connect(VrSwitch1, &controls::PowerSwitch::toggled, this, [this](bool) {
        if (!applying_) {
            cd_->VrSwitch1Change();
        }
    });
    connect(MMWheel1, &controls::RotaryWheel::changed, this, [this](int value) {
        if (!applying_) {
            cd_->MMWheel1Change(value);
        }
    });
    connect(RzTrackBar1, &controls::TrackBar::mousePressed, this,
            [this](int) { cd_->RzTrackBar1MouseDown(); });
    connect(RzTrackBar1, &controls::TrackBar::mouseMoved, this,
            [this](int position) { cd_->RzTrackBar1MouseMove(position); });
    connect(RzTrackBar1, &controls::TrackBar::mouseReleased, this, [this](int position) {
        cd_->RzTrackBar1MouseMove(position);
        cd_->RzTrackBar1MouseUp();
    });
}

void CdPlayerWindow::ViewChanged() {
    Apply();
}

void CdPlayerWindow::ProcessMessages() {
    // The message pump runs the engine's queue between Qt's events; user input waits.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    TCdPlayerWindow::ProcessMessages();
}

void CdPlayerWindow::Apply() {
    if (!cd_ || applying_ || RzTrackBar1 == nullptr) {
        return;
    }
    applying_ = true;
    const TCdPlayerView& v = cd_->View();

    RzBmpButton1->setEnabled(v.playEnabled);
    RzBmpButton2->setEnabled(v.pauseEnabled);
    RzBmpButton3->setEnabled(v.stopEnabled);
    RzBmpButton5->setEnabled(v.prevEnabled);
    RzBmpButton6->setEnabled(v.nextEnabled);
    RzBmpButton7->setEnabled(v.trayEnabled);
    Paint(*Label9, v.playColour);
    Paint(*Label10, v.stopColour);
    Paint(*Label11, v.pauseColour);

    for (controls::LitLabel* caption : {LabelPR, LabelTR}) {
        Paint(*caption, v.panelCaptionColour);
    }
    for (controls::LitLabel* caption : {LabelL, LabelR, LabelDB, LabelElapsed, LabelLength}) {
        Paint(*caption, v.captionColour);
    }
    Paint(*LabelRoute, v.captionColour);
    ledPanel1_->SetValue(v.currentTrack);
    ledPanel2_->SetValue(v.trackCount);
    // A panel is blank for 0: its digits go dark, as when it is switched off.
    for (TMMLEDPanel* panel : {ledPanel1_.get(), ledPanel2_.get()}) {
        const bool lit = v.panelsEnabled && panel->Value() != 0;
        if (panel->Enabled() != lit) {
            panel->SetEnabled(lit);
        }
    }

    VrClock2->SetFirst(v.elapsedMinutes);
    VrClock2->SetSecond(v.elapsedSeconds);
    VrClock3->SetFirst(v.lengthMinutes);
    VrClock3->SetSecond(v.lengthSeconds);
    for (controls::SegmentClock* clock : {VrClock2, VrClock3}) {
        clock->SetHighColor(ColorFromRef(v.clockHigh));
        // The unlit segments are seen through the glass, so that lit ones stand out.
        clock->SetLowColor(ColorFromRef(ThroughGlass(v.clockLow, kGlass, 25)));
    }

    VrCalendar1->SetColor(ColorFromRef(v.gridColour));
    for (int n = 1; n <= 25; ++n) {
        VrCalendar1->SetLit(n, v.cells[static_cast<std::size_t>(n - 1)]);
    }

    RzTrackBar1->SetRange(0, v.seekMax);
    if (!RzTrackBar1->Dragging()) {
        RzTrackBar1->SetPosition(v.seekPosition);
    }
    RzTrackBar1->setEnabled(v.seekEnabled);
    RzTrackBar1->SetTrackColor(ColorFromRef(v.seekTrackColour));

    VrSwitch1->SetPosition(v.powerOn ? 1 : 0);
    MMWheel1->SetValue(v.wheelValue);
    MMWheel1->setEnabled(v.wheelEnabled);
    MMWheel1->SetHandleColor(ColorFromRef(v.wheelColour));
    MMWheel1->SetFocusColor(ColorFromRef(v.wheelColour));

    levelScale_->SetScale1Color(v.scaleColours[0]);
    levelScale_->SetScale2Color(v.scaleColours[1]);
    levelScale_->SetScale3Color(v.scaleColours[2]);
    applying_ = false;
}

void CdPlayerWindow::ShowWindow(bool show) {
    setVisible(show);
    if (show) {
        raise();
    }
}

void CdPlayerWindow::PlaceAbove(int mainLeft, int mainTop, int height, int& left, int& top) {
    left = mainLeft;
    const int t = mainTop - 2 * height + 2;
    if (t > 0) {
        top = t;
    }
}

// ---------------------------------------------------------------- events

void CdPlayerWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QLinearGradient face(0, 0, 0, height());
    face.setColorAt(0, QColor(0x2e, 0x31, 0x37));
    face.setColorAt(1, QColor(0x1c, 0x1e, 0x22));
    p.fillRect(rect(), face);
    for (int y = 1; y < height(); y += 3) {
        p.fillRect(QRect(0, y, width(), 1), QColor(255, 255, 255, 6));
    }
    auto sunken = [&p](QRect r) {
        p.fillRect(QRect(r.left(), r.top(), r.width(), 1), QColor(0x0e, 0x0f, 0x11));
        p.fillRect(QRect(r.left(), r.top(), 1, r.height()), QColor(0x0e, 0x0f, 0x11));
        p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), QColor(0x4a, 0x4e, 0x56));
        p.fillRect(QRect(r.right(), r.top(), 1, r.height()), QColor(0x4a, 0x4e, 0x56));
    };
    sunken(kDisplay);
    sunken(kKeyWell);
    sunken(kSwitchWell);
    p.fillRect(kDisplay.adjusted(1, 1, -1, -1), ColorFromRef(kGlass));
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(0x0e, 0x0f, 0x11), 2));
    p.setBrush(QColor(0x18, 0x1a, 0x1e));
    p.drawEllipse(kKnobCentre, 34, 34);
    p.setRenderHint(QPainter::Antialiasing, false);

    PaintFaceTitle(p, QRect(kSwitchWell.left() - 2, 18, width() - kSwitchWell.left() - 10, 20),
                   QStringLiteral("CD Player"));
    EngraveLabel(p, QRect(kSwitchWell.left() - 10, kSwitchWell.bottom() + 3, kSwitchWell.width() + 20, 10),
                 QStringLiteral("POWER"));
    EngraveLabel(p, QRect(kKnobCentre.x() - 30, kKnobCentre.y() + 37, 60, 10), QStringLiteral("VOLUME"));
}

void CdPlayerWindow::mousePressEvent(QMouseEvent* event) {
    drag_.Press(*this, event);
}

void CdPlayerWindow::mouseMoveEvent(QMouseEvent* event) {
    drag_.Move(*this, event);
}

void CdPlayerWindow::mouseReleaseEvent(QMouseEvent* event) {
    drag_.Release(event);
}

void CdPlayerWindow::contextMenuEvent(QContextMenuEvent* event) {
    main_.Menu().Sync(main_.Player().View());
    main_.Menu().Popup(event->globalPos());
}

void CdPlayerWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous()) {
        return;
    }
    int left = x();
    int top = y();
    PlaceAbove(main_.x(), main_.y(), height(), left, top);
    move(left, top);
}

} // namespace tunefold::windows
