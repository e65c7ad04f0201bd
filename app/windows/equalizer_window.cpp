#include "app/windows/equalizer_window.h"

#include "app/windows/window_face.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

#include "app/controls/caption_strip.h"
#include "app/controls/color_ref.h"
#include "app/controls/curve_chart.h"
#include "app/controls/face_button.h"
#include "app/controls/lit_label.h"
#include "app/controls/power_switch.h"
#include "app/controls/raster_host.h"
#include "app/controls/rotary_wheel.h"
#include "app/controls/window_shaper.h"
#include "app/logic/equalizer_colours.h"
#include "app/logic/file_player.h"
#include "app/logic/program_folder.h"
#include "app/windows/colour_slots.h"
#include "app/windows/main_window.h"
#include "app/windows/player_menu.h"
#include "platform/dialogs.h"

namespace tunefold::windows {

namespace {

using controls::ColorFromRef;

// The face's recesses: the glass with the chart, the key well below it, the switch and the knob.
constexpr QRect kDisplay{12, 12, 396, 134};
constexpr QRect kKeyWell{12, 150, 396, 26};
constexpr QRect kSwitchWell{420, 104, 30, 42};
constexpr QPoint kKnobCentre{494, 126};
constexpr int kKeyWidth = 74;
// The level scale: a narrow vertical strip between the dB captions and the chart, wide enough
// for its labels ("-35").
constexpr QRect kScale{37, 30, 14, 99};

constexpr std::uint32_t kYellow = 0x00FFFF; // clYellow as a colour reference
constexpr std::uint32_t kCdDimmed = 0x008000;

const char* const kFrequencies =
    "   32       64        128     256      512        1k        2k        4k       8k         16k  ";
constexpr std::array<const char*, 7> kDbCaptions{"+20", "+15", "+6", "0", "-6", "-15", "-20"};
constexpr std::array<int, 7> kDbValues{20, 15, 6, 0, -6, -15, -20};

// The window's outline: the white pixels of skin0.bmp (drawn for the main window, two pixels
// wider) squeezed to this window's size. Empty when the picture cannot be read.
QImage LoadOutline(const std::string& folder) {
    const std::optional<TRaster> skin = ReadSkinFile(folder);
    if (!skin) {
        return {};
    }
    return controls::RasterToImage(*skin).scaled(EqualizerWindow::kWidth, EqualizerWindow::kHeight,
                                                 Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

controls::LitLabel* Label(QWidget* parent, const char* text, QPoint at) {
    auto* label = new controls::LitLabel(QString::fromLatin1(text), parent);
    label->move(at);
    return label;
}

void Colour(controls::LitLabel& label, std::uint32_t lit, std::uint32_t unlit) {
    label.SetLitColor(ColorFromRef(lit));
    label.SetUnlitColor(ColorFromRef(unlit));
}

} // namespace

EqualizerWindow::EqualizerWindow(MainWindow& main, const std::string& programFolder, QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint), main_(main), slots_(main.ColourSlots()) {
    setWindowTitle(QStringLiteral("Tunefold Equalizer"));
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);

    BuildControls();

    // The outline first; without it the window stays rectangular and everything else still
    // happens (bands, volume, reset, the start-up curve).
    outline_ = LoadOutline(programFolder);
    shaped_ = !outline_.isNull();
    if (shaped_) {
        controls::WindowShaper::Apply(*this, outline_);
    } else {
        platform::MessageBoxRequest box;
        box.caption = "Audio Play";
        box.text = "The picture skin0.bmp could not be loaded from " + programFolder +
                   "; the equalizer window keeps a plain outline.";
        box.icon = platform::MsgIcon::Error;
        box.buttons = platform::MsgButtons::Ok;
        platform::Dialogs().MessageBox(box);
    }

    eq_ = std::make_unique<TEqualizerController>(main_.Player(), *this, programFolder);
    main_.Player().SetEqualizerSide(eq_.get());
    TMMSpectrum& spectrum = eq_->Spectrum();
    spectrum.Bevel().SetBevelOuter(bvNone);
    // Full colour: at 8 bits the scheme's colours would be drawn as their nearest palette entries.
    spectrum.SetBitsPerPixel(24);
    spectrum.SetBounds(0, 0, kChart.width(), kChart.height());
    SpectrumHost = new controls::RasterHost(spectrum, this);
    SpectrumHost->move(kChart.topLeft());
    SpectrumHost->lower(); // the chart covers it when shown
    eq_->MixerWheel().OnDisplay = [this] { Apply(); };

    main_.Menu().AttachTo(*this);
    Wire();
    Apply();
}

EqualizerWindow::~EqualizerWindow() {
    main_.Player().SetEqualizerSide(nullptr);
    eq_->MixerWheel().OnDisplay = nullptr;
    delete SpectrumHost; // it refers to the controller's spectrum
    SpectrumHost = nullptr;
    delete ScaleHost; // and this one to the level scale, which goes before the children
    ScaleHost = nullptr;
    eq_.reset(); // writes normal.eq0
}

void EqualizerWindow::BuildControls() {
    using controls::FaceButton;

    Label2 = Label(this, "SPECTRUM", {kChart.left(), kDisplay.top() + 6});
    Label3 = Label(this, "EQUALIZER", {Label2->geometry().right() + 12, kDisplay.top() + 6});
    Label1 = Label(this, "OVERFLOW", {0, kDisplay.top() + 6});
    Label1->move(kChart.right() + 1 - Label1->width(), Label1->y());
    Label5 = Label(this, "FILE PLAYER", {0, kDisplay.top() + 6});
    Label5->move(Label1->x() - 16 - Label5->width(), Label5->y());
    Label6 = Label(this, "CD PLAYER", Label5->pos());
    Label6->hide();

    Chart1 = new controls::CurveChart(this);
    Chart1->setGeometry(kChart);
    Chart1->hide();

    Label4 = new controls::CaptionStrip(QString::fromLatin1(kFrequencies), this);
    Label4->setGeometry(kChart.left(), kChart.bottom() + 4, kChart.width(), 8);

    for (std::size_t i = 0; i < kDbCaptions.size(); ++i) {
        DbLabels[i] = Label(this, kDbCaptions[i], {0, 0});
        const double y = kChart.top() + (120.0 - kDbValues[i] * 5.5) / 240.0 * (kChart.height() - 1);
        DbLabels[i]->move(kScale.left() - 2 - DbLabels[i]->width(), static_cast<int>(y) - 3);
    }

    levelScale_ = std::make_unique<TMMLevelScale>();
    levelScale_->Bevel().SetBevelOuter(bvNone);
    levelScale_->SetKind(lkVertical);
    levelScale_->SetBounds(0, 0, kScale.width(), kScale.height());
    ScaleHost = new controls::RasterHost(*levelScale_, this);
    ScaleHost->move(kScale.topLeft());

    const std::array<std::pair<FaceButton**, const char*>, 5> keys{{
        {&RzBmpButton7, "Spectrum"},
        {&RzBmpButton8, "Equalizer"},
        {&RzBmpButton1, "Reset Equalizer"},
        {&RzBmpButton2, "Open Equalizer Settings..."},
        {&RzBmpButton3, "Save Equalizer Settings..."},
    }};
    const std::array<const char*, 5> letters{"SPECTRUM", "EQUALIZER", "RESET", "OPEN", "SAVE"};
    int x = kKeyWell.left() + 4;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        auto* key = new FaceButton(FaceButton::Symbol::None, this);
        key->SetHint(QString::fromLatin1(keys[i].second));
        key->SetLettering(QString::fromLatin1(letters[i]));
        key->setGeometry(x, kKeyWell.top() + 2, kKeyWidth, 22);
        x += kKeyWidth + 4;
        *keys[i].first = key;
    }
    // The source switches other windows press; never seen.
    RzBmpButton5 = new FaceButton(FaceButton::Symbol::None, this);
    RzBmpButton5->SetHint(QStringLiteral("CD"));
    RzBmpButton5->hide();
    RzBmpButton6 = new FaceButton(FaceButton::Symbol::None, this);
    RzBmpButton6->SetHint(QStringLiteral("PL"));
    RzBmpButton6->hide();

    VrSwitch1 = new controls::PowerSwitch(this);
    VrSwitch1->setGeometry(kSwitchWell.adjusted(4, 4, -4, -4));

    MMMixerWheel1 = new controls::RotaryWheel(this);
    MMMixerWheel1->setGeometry(kKnobCentre.x() - 30, kKnobCentre.y() - 30, 60, 60);
    MMMixerWheel1->setToolTip(QStringLiteral("Output Volume Control"));
}

void EqualizerWindow::Wire() {
    const std::array<std::pair<controls::FaceButton*, void (TEqualizerController::*)()>, 7> keys{{
        {RzBmpButton7, &TEqualizerController::RzBmpButton7Click},
        {RzBmpButton8, &TEqualizerController::RzBmpButton8Click},
        {RzBmpButton1, &TEqualizerController::Button1Click},
        {RzBmpButton2, &TEqualizerController::RzBmpButton2Click},
        {RzBmpButton3, &TEqualizerController::RzBmpButton3Click},
        {RzBmpButton5, &TEqualizerController::RzBmpButton5Click},
        {RzBmpButton6, &TEqualizerController::SelectFilePlayer},
    }};
    for (const auto& [key, handler] : keys) {
        connect(key, &controls::FaceButton::clicked, this, [this, h = handler] { ((*eq_).*h)(); });
    }
    connect(VrSwitch1, &controls::PowerSwitch::toggled, this, [this](bool on) {
        if (!applying_) {
            eq_->VrSwitch1Change(on);
        }
    });
    connect(MMMixerWheel1, &controls::RotaryWheel::changed, this, [this](int value) {
        if (!applying_) {
            eq_->MixerWheel().UserChanged(value);
        }
    });
    connect(Chart1, &controls::CurveChart::pointPressed, this,
            [this](int index, int y) { eq_->Chart1ClickSeries(index, y); });
    connect(Chart1, &controls::CurveChart::mouseMoved, this, [this](int y) { eq_->Chart1MouseMove(y); });
    connect(Chart1, &controls::CurveChart::mouseReleased, this, [this](int) { eq_->Chart1MouseUp(); });
}

void EqualizerWindow::SetEqColors(const TColourSlots& colours) {
    slots_ = colours;
    Apply();
}

void EqualizerWindow::ViewChanged() {
    Apply();
}

void EqualizerWindow::Apply() {
    if (!eq_ || applying_) {
        return; // the controller is still being made, or this is our own change coming back
    }
    applying_ = true;
    const TEqualizerView& v = eq_->View();
    const TEqualizerColours c =
        EqualizerColours(slots_, v.powerOn, v.chartVisible, v.spectrumKindIndex, filePlayerColour_);
    filePlayerColour_ = c.filePlayer;
    const auto col = [this](int n) { return slots_[static_cast<std::size_t>(n - 1)]; };

    // The curve and the band points on it.
    std::vector<QPointF> curve;
    curve.reserve(EqCurvePoints);
    for (int d = 1; d <= EqCurvePoints; ++d) {
        curve.emplace_back(d, static_cast<double>(v.curve[static_cast<std::size_t>(d - 1)]));
    }
    std::vector<QPointF> points;
    points.reserve(10);
    for (int band = 1; band <= 10; ++band) {
        points.emplace_back((band - 0.5) * 10.0,
                            static_cast<double>(v.curve[static_cast<std::size_t>(BandCurvePoint(band) - 1)]));
    }
    Chart1->SetCurve(std::move(curve));
    Chart1->SetPoints(std::move(points));
    Chart1->SetBackColor(ColorFromRef(c.background));
    Chart1->SetLineColor(ColorFromRef(col(14)));
    Chart1->SetGridColor(ColorFromRef(ThroughGlass(col(14), c.background, 25)));
    if (v.dragActive) {
        Chart1->SetPointBrush(ColorFromRef(kYellow));
        Chart1->SetPointPen(ColorFromRef(col(12)));
    } else if (c.bandPointsChanged) {
        Chart1->SetPointBrush(ColorFromRef(c.bandBrush));
        Chart1->SetPointPen(ColorFromRef(c.bandPen));
    }
    Chart1->setVisible(v.chartVisible);

    TMMSpectrum& s = eq_->Spectrum();
    s.SetColor(c.background);
    s.SetBar1Color(c.spectrumBars[0]);
    s.SetBar2Color(c.spectrumBars[1]);
    s.SetBar3Color(c.spectrumBars[2]);
    s.SetInactive1Color(c.spectrumInactive[0]);
    s.SetInactive2Color(c.spectrumInactive[1]);
    s.SetInactive3Color(c.spectrumInactive[2]);
    s.Bevel().SetInnerLightColor(c.spectrumInnerBevel);
    s.Bevel().SetInnerShadowColor(c.spectrumInnerBevel);
    s.Bevel().SetBorderSpaceColor(c.spectrumBorder);
    SpectrumHost->setVisible(!v.chartVisible);
    levelScale_->SetColor(c.background);
    levelScale_->SetScale1Color(c.scale[0]);
    levelScale_->SetScale2Color(c.scale[1]);
    levelScale_->SetScale3Color(c.scale[2]);

    RzBmpButton7->setEnabled(v.spectrumEnabled);
    RzBmpButton8->setEnabled(v.equalizerEnabled);
    RzBmpButton1->setEnabled(v.resetEnabled);
    RzBmpButton2->setEnabled(v.openEnabled);
    RzBmpButton3->setEnabled(v.saveEnabled);

    Colour(*Label1, col(12), c.overflow);
    Label1->SetLit(v.overflowLit);
    for (auto [label, colour] : {std::pair{Label2, c.spectrumLabel}, std::pair{Label3, c.equalizerLabel},
                                 std::pair{Label5, v.cdSource ? kCdDimmed : c.filePlayer}}) {
        Colour(*label, colour, colour);
        label->SetLit(true);
    }
    Label4->SetColor(ColorFromRef(c.frequencyCaptions));
    for (std::size_t i = 0; i < DbLabels.size(); ++i) {
        // "+20"/"-20" in the third colour, "+15"/"-15" in the second, the middle three in the first.
        const std::size_t group = i == 0 || i == 6 ? 2 : (i == 1 || i == 5 ? 1 : 0);
        Colour(*DbLabels[i], c.dbCaptions[group], c.dbCaptions[group]);
        DbLabels[i]->SetLit(true);
    }

    VrSwitch1->SetPosition(v.powerOn ? 1 : 0);
    const TMMMixerWheel& wheel = eq_->MixerWheel();
    MMMixerWheel1->SetRange(wheel.Min(), wheel.Max());
    MMMixerWheel1->SetValue(wheel.Value());
    MMMixerWheel1->setEnabled(wheel.WheelEnabled());
    MMMixerWheel1->SetHandleColor(ColorFromRef(v.wheelColour));
    MMMixerWheel1->SetFocusColor(ColorFromRef(v.wheelColour));

    if (gradientStart_ != c.gradientStart || gradientEnd_ != c.gradientEnd || panelBevel_ != c.panelBevel) {
        gradientStart_ = c.gradientStart;
        gradientEnd_ = c.gradientEnd;
        panelBevel_ = c.panelBevel;
        update(kDisplay);
    }
    applying_ = false;
}

void EqualizerWindow::ShowWindow(bool show) {
    setVisible(show);
    if (show) {
        raise();
    }
}

// ---------------------------------------------------------------- events

void EqualizerWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // A dark brushed face like the main window's.
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
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(0x0e, 0x0f, 0x11), 2));
    p.setBrush(QColor(0x18, 0x1a, 0x1e));
    p.drawEllipse(kKnobCentre, 34, 34);
    p.setRenderHint(QPainter::Antialiasing, false);

    const QRect glass = kDisplay.adjusted(1, 1, -1, -1);
    QLinearGradient g(glass.topLeft(), glass.bottomLeft());
    g.setColorAt(0, ColorFromRef(gradientStart_));
    g.setColorAt(0.45, ColorFromRef(gradientEnd_));
    g.setColorAt(1, ColorFromRef(gradientEnd_));
    p.fillRect(glass, g);
    p.setPen(ColorFromRef(panelBevel_));
    p.setBrush(Qt::NoBrush);
    p.drawRect(kChart.adjusted(-1, -1, 0, 0));

    // The words on the face, engraved.
    PaintFaceTitle(p, QRect(kSwitchWell.left() - 2, 18, width() - kSwitchWell.left() - 10, 20),
                   QStringLiteral("Equalizer"));
    EngraveLabel(p, QRect(kSwitchWell.left() - 10, kSwitchWell.bottom() + 3, kSwitchWell.width() + 20, 10),
                 QStringLiteral("POWER"));
    EngraveLabel(p, QRect(kKnobCentre.x() - 30, kKnobCentre.y() + 37, 60, 10), QStringLiteral("OUTPUT"));
}

// The face moves the window, as the main window's does.
void EqualizerWindow::mousePressEvent(QMouseEvent* event) {
    drag_.Press(*this, event);
}

void EqualizerWindow::mouseMoveEvent(QMouseEvent* event) {
    drag_.Move(*this, event);
}

void EqualizerWindow::mouseReleaseEvent(QMouseEvent* event) {
    drag_.Release(event);
}

void EqualizerWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        eq_->EscapePressed();
        return;
    }
    QWidget::keyPressEvent(event);
}

void EqualizerWindow::contextMenuEvent(QContextMenuEvent* event) {
    main_.Menu().Sync(main_.Player().View());
    main_.Menu().Popup(event->globalPos());
}

void EqualizerWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous()) {
        return; // the desktop giving the window back is no showing of ours
    }
    // The frequencies under the chart, as wide as it.
    Label4->setGeometry(Chart1->x(), Label4->y(), Chart1->width(), Label4->height());
    int left = x();
    int top = y();
    TEqualizerController::PlaceAbove(main_.x(), main_.y(), height(), left, top);
    move(left, top);
    eq_->FormShow();
}

void EqualizerWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (eq_ && !event->spontaneous()) {
        eq_->FormHide();
    }
}

void EqualizerWindow::closeEvent(QCloseEvent* event) {
    eq_->FormClose();
    QWidget::closeEvent(event);
}

} // namespace tunefold::windows
