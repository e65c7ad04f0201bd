#include "app/windows/main_window.h"
#include "app/windows/transport_buttons.h"

#include "app/logic/program_folder.h"
#include "platform/paths.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLinearGradient>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTime>
#include <QUrl>

#include <algorithm>
#include <limits>

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
#include "app/logic/file_player.h"
#include "app/windows/colour_slots.h"
#include "app/windows/compact_panel.h"
#include "app/windows/desktop_cover.h"
#include "app/windows/player_menu.h"
#include "app/windows/playlist_editor_window.h"
#include "engine/displays/leds.h"
#include "engine/displays/level.h"
#include "engine/framework/resources.h"
#include "platform/dialogs.h"
#include "platform/paths.h"

#ifndef TUNEFOLD_VERSION
#define TUNEFOLD_VERSION "0"
#endif

namespace tunefold::windows {

namespace {

using controls::ColorFromRef;

// Where the face has its recesses (tools/skin_art.cpp draws the same rectangles).
constexpr QRect kDisplay{14, 14, 378, 110};
constexpr QRect kKeyWell{12, 150, 252, 26};
constexpr QRect kTrackSlot{14, 130, 378, 14};
constexpr QRect kMeterSlot{404, 62, 130, 22};
constexpr QRect kSwitchWell{410, 104, 30, 42};
constexpr QPoint kKnobCentre{494, 126};

QImage LoadFace() {
    if (std::optional<TRaster> skin = LoadSkin(platform::ProgramFolder())) {
        return controls::RasterToImage(*skin);
    }
    QImage plain(MainWindow::kWidth, MainWindow::kHeight, QImage::Format_RGB32);
    plain.fill(QColor(0x22, 0x25, 0x2a));
    return plain;
}

controls::LitLabel* Label(QWidget* parent, const QString& text, QPoint at) {
    auto* label = new controls::LitLabel(text, parent);
    label->move(at);
    return label;
}

void SetLitColours(controls::LitLabel& label, std::uint32_t lit, std::uint32_t unlit) {
    label.SetLitColor(ColorFromRef(lit));
    label.SetUnlitColor(ColorFromRef(unlit));
}

int ToInt(std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, 0, std::numeric_limits<int>::max()));
}

void ShowLed(TMMLEDPanel& panel, const TLedNumber& n) {
    panel.SetValue(n.value);
    if (panel.Enabled() != n.enabled) {
        panel.SetEnabled(n.enabled);
    }
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint), face_(LoadFace()), slots_(StartColourSlots()) {
    setWindowTitle(QStringLiteral("Tunefold File Player"));
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    controls::WindowShaper::Apply(*this, face_);

    player_ = std::make_unique<TFilePlayer>(*this);
    BuildControls();
    BuildDisplays();
    menu_ = new PlayerMenu(*player_, this);
    menu_->AttachTo(*this);
    menu_->OnExit = [this] { close(); };
    Wire();

    scrollTimer_.setInterval(kScrollMs);
    connect(&scrollTimer_, &QTimer::timeout, this, [this] { StepLines(); });
    clockTimer_.setInterval(1000);
    connect(&clockTimer_, &QTimer::timeout, this, [this] { ShowTimeOfDay(); });
    clockTimer_.start();
    ShowTimeOfDay();
    Apply();
}

MainWindow::~MainWindow() {
    if (compact_ != nullptr) {
        compact_->Detach();
    }
    if (cover_ != nullptr) {
        cover_->Detach();
    }
    // The hosts refer to the engine displays, the meters to the controller: they go first.
    for (controls::RasterHost* host : ledHosts_) {
        delete host;
    }
    delete meterHost1_;
    delete meterHost2_;
    delete scaleHost_;
    player_.reset();
}

void MainWindow::BuildControls() {
    using controls::FaceButton;

    VrMatrix1 = new controls::DotMatrix(12, this);
    VrMatrix1->move(kDisplay.left() + 10, kDisplay.top() + 8);
    VrMatrix2 = new controls::DotMatrix(12, this);
    VrMatrix2->move(kDisplay.left() + 10, kDisplay.top() + 36);

    Label9 = new controls::LitLabel(QStringLiteral("PLAY"), this);
    Label11 = new controls::LitLabel(QStringLiteral("PAUSE"), this);
    Label10 = new controls::LitLabel(QStringLiteral("STOP"), this);
    lblLayer = new controls::LitLabel(QStringLiteral("LAYER"), this);
    lblLayer2 = new controls::LitLabel(QStringLiteral("I"), this);
    int x = kDisplay.left() + 12;
    for (controls::LitLabel* l : {Label9, Label11, Label10, lblLayer}) {
        l->move(x, kDisplay.top() + 68);
        x += l->width() + 12;
    }
    lblLayer2->move(lblLayer->x() + lblLayer->width() + 5, kDisplay.top() + 68);

    captions_[0] = Label(this, QStringLiteral("PR"), {kDisplay.left() + 236, kDisplay.top() + 8});
    captions_[1] = Label(this, QStringLiteral("TR"), {kDisplay.left() + 236, kDisplay.top() + 44});
    int y = kDisplay.top() + 6;
    const int column = kDisplay.left() + 300;
    captions_[2] = Label(this, QStringLiteral("CLOCK"), {column + 2, y});
    captions_[3] = Label(this, QStringLiteral("ELAPSED"), {column + 2, y + 34});
    captions_[4] = Label(this, QStringLiteral("LENGTH"), {column + 2, y + 68});
    for (controls::SegmentClock** clock : {&VrClock1, &VrClock2, &VrClock3}) {
        *clock = new controls::SegmentClock(this);
        (*clock)->move(column, y + 9);
        y += 34;
    }

    RzTrackBar1 = new controls::TrackBar(this);
    RzTrackBar1->setGeometry(kTrackSlot.adjusted(2, 0, -2, 0));
    RzTrackBar1->SetRange(0, 0);

    transport_ =
        MakeTransportButtons(this, QPoint(kKeyWell.left() + 4, kKeyWell.top() + 2), QSize(30, 22), 4, 12);
    RzBmpButton5 = transport_[0].button;
    RzBmpButton1 = transport_[1].button;
    RzBmpButton2 = transport_[2].button;
    RzBmpButton3 = transport_[3].button;
    RzBmpButton6 = transport_[4].button;
    RzBmpButton7 = transport_[5].button;
    RzBmpButton8 = transport_[6].button;

    VrSwitch1 = new controls::PowerSwitch(this);
    VrSwitch1->setGeometry(kSwitchWell.adjusted(4, 4, -4, -4));

    MMWheel1 = new controls::RotaryWheel(this);
    MMWheel1->setGeometry(kKnobCentre.x() - 30, kKnobCentre.y() - 30, 60, 60);
    MMWheel1->SetRange(0, 32768);
    MMWheel1->SetValue(16384);
    MMWheel1->setToolTip(QStringLiteral("Pre-Volume Control"));
}

void MainWindow::BuildDisplays() {
    auto panel = [](int digits, TMMLEDSize size) {
        auto p = std::make_unique<TMMLEDPanel>();
        p->Bevel().SetBevelOuter(bvNone); // the face's glass is the frame
        p->SetDigitSize(size);
        p->SetNumDigits(digits);
        p->SetMaxValue(digits == 3 ? 999 : 99);
        p->SetValue(0);
        p->SetEnabled(false);
        return p;
    };
    ledPanel1_ = panel(2, ls11x19);
    ledPanel2_ = panel(2, ls11x19);
    ledBitRate_ = panel(3, ls08x13);
    ledRate_ = panel(2, ls08x13);
    ledMode_ = std::make_unique<TMMLEDMode>();
    ledMode_->SetEnabled(false);

    const int row = kDisplay.top() + 84;
    ledHosts_[0] = new controls::RasterHost(*ledPanel1_, this);
    ledHosts_[0]->move(kDisplay.left() + 236, kDisplay.top() + 18);
    ledHosts_[1] = new controls::RasterHost(*ledPanel2_, this);
    ledHosts_[1]->move(kDisplay.left() + 236, kDisplay.top() + 54);
    ledHosts_[2] = new controls::RasterHost(*ledBitRate_, this);
    ledHosts_[2]->move(kDisplay.left() + 12, row);
    lblBitRate = Label(this, QStringLiteral("KBit/s"), {ledHosts_[2]->geometry().right() + 5, row + 6});
    ledHosts_[3] = new controls::RasterHost(*ledRate_, this);
    ledHosts_[3]->move(kDisplay.left() + 90, row);
    captions_[5] = Label(this, QStringLiteral("KHz"), {ledHosts_[3]->geometry().right() + 5, row + 6});
    ledHosts_[4] = new controls::RasterHost(*ledMode_, this);
    ledHosts_[4]->move(kDisplay.left() + 148, row + 2);

    // The meters fill the slot on the right, left channel above right.
    const QRect meters = kMeterSlot.adjusted(2, 2, -2, -2);
    const int h = (meters.height() - 2) / 2;
    player_->Level1().SetBounds(0, 0, meters.width(), h);
    player_->Level2().SetBounds(0, 0, meters.width(), h);
    meterHost1_ = new controls::RasterHost(player_->Level1(), this);
    meterHost1_->move(meters.topLeft());
    meterHost2_ = new controls::RasterHost(player_->Level2(), this);
    meterHost2_->move(meters.left(), meters.bottom() + 1 - h);

    levelScale_ = std::make_unique<TMMLevelScale>();
    levelScale_->Bevel().SetBevelOuter(bvNone);
    levelScale_->SetBounds(0, 0, meters.width(), 12);
    scaleHost_ = new controls::RasterHost(*levelScale_, this);
    scaleHost_->move(meters.left(), kMeterSlot.bottom() + 3);
}

void MainWindow::Wire() {
    for (const TransportButton& b : transport_) {
        connect(b.button, &controls::FaceButton::clicked, this, [this, h = b.handler] {
            player_->Click(h);
            menu_->Sync(player_->View());
        });
    }
    connect(VrSwitch1, &controls::PowerSwitch::toggled, this, [this](bool on) {
        if (!applying_) {
            player_->VrSwitch1Change(on);
        }
    });
    connect(MMWheel1, &controls::RotaryWheel::changed, this, [this](int value) {
        if (!applying_) {
            player_->MMWheel1Change(value);
        }
    });
    connect(RzTrackBar1, &controls::TrackBar::mousePressed, this,
            [this](int) { player_->RzTrackBar1MouseDown(); });
    connect(RzTrackBar1, &controls::TrackBar::mouseMoved, this,
            [this](int position) { player_->RzTrackBar1MouseMove(position); });
    connect(RzTrackBar1, &controls::TrackBar::mouseReleased, this,
            [this](int) { player_->RzTrackBar1MouseUp(); });
}

void MainWindow::SetCompanions(CompactPanel* compact, DesktopCover* cover) {
    compact_ = compact;
    cover_ = cover;
    Apply();
}

void MainWindow::SetColourSlots(const TColourSlots& colours) {
    slots_ = colours;
    Apply();
}

TPlayerColours MainWindow::Colours() const {
    return PlayerColours(slots_, player_->View());
}

void MainWindow::ViewChanged() {
    Apply();
    if (OnViewChanged) {
        OnViewChanged();
    }
}

void MainWindow::ApplyColours(const TPlayerColours& c) {
    for (controls::DotMatrix* m : {VrMatrix1, VrMatrix2}) {
        m->SetLowColor(ColorFromRef(ThroughGlass(c.matrix.unlit, c.background)));
        m->SetHighColor(ColorFromRef(c.matrix.lit));
        m->SetBackColor(ColorFromRef(c.background));
    }
    for (controls::SegmentClock* clock : {VrClock1, VrClock2, VrClock3}) {
        clock->SetHighColor(ColorFromRef(c.clock.lit));
        clock->SetLowColor(ColorFromRef(ThroughGlass(c.clock.unlit, c.background, 25)));
        clock->SetBackColor(ColorFromRef(c.background));
    }
    for (TMMLEDPanel* panel : {ledPanel1_.get(), ledPanel2_.get(), ledBitRate_.get(), ledRate_.get()}) {
        panel->SetColor(c.background);
        panel->SetLEDColor(c.leds.lit);
        panel->SetInactiveColor(ThroughGlass(c.leds.unlit, c.background, 25));
    }
    ledMode_->SetColor(c.background);
    ledMode_->SetLEDColor(c.mode.lit);
    ledMode_->SetInactiveColor(ThroughGlass(c.mode.unlit, c.background));
    for (TMMLevel* meter : {&player_->Level1(), &player_->Level2()}) {
        meter->SetColor(c.background);
        meter->SetBar1Color(c.meterBars[0]);
        meter->SetBar2Color(c.meterBars[1]);
        meter->SetBar3Color(c.meterBars[2]);
        meter->SetInactive1Color(ThroughGlass(c.meterInactive[0], c.background, 50));
        meter->SetInactive2Color(ThroughGlass(c.meterInactive[1], c.background, 50));
        meter->SetInactive3Color(ThroughGlass(c.meterInactive[2], c.background, 50));
    }
    levelScale_->SetColor(c.background);
    levelScale_->SetScale1Color(c.scale[0]);
    levelScale_->SetScale2Color(c.scale[1]);
    levelScale_->SetScale3Color(c.scale[2]);
    // A label's two colours follow the power; which one shows follows its lit flag.
    const bool on = player_->View().powerOn;
    const TColourSlots& s = slots_;
    auto col = [&s](int n) { return s[static_cast<std::size_t>(n - 1)]; };
    SetLitColours(*Label9, col(8), on ? col(7) : col(24));
    SetLitColours(*Label11, col(10), on ? col(9) : col(23));
    SetLitColours(*Label10, col(12), on ? col(11) : col(22));
    for (controls::LitLabel* l : {lblLayer, lblLayer2}) {
        SetLitColours(*l, col(14), on ? col(13) : col(21));
    }
    for (controls::LitLabel* l : captions_) {
        SetLitColours(*l, c.captions, c.captions);
        l->SetLit(true);
    }
    SetLitColours(*lblBitRate, c.captions, c.captions);
    lblBitRate->SetLit(true);
    RzTrackBar1->SetTrackColor(ColorFromRef(c.track));
}

void MainWindow::Apply() {
    if (!player_ || applying_) {
        return;
    }
    applying_ = true;
    const TFilePlayerView& v = player_->View();
    const TPlayerColours c = Colours();
    // Every colour change repaints its control: the display tick would repaint the whole face.
    if (!shownColours_ || *shownColours_ != c) {
        ApplyColours(c);
        shownColours_ = c;
        update(kDisplay); // the glass gradient follows the power
    }
    if (shownWheelColour_ != v.wheelColour) {
        MMWheel1->SetHandleColor(ColorFromRef(v.wheelColour));
        MMWheel1->SetFocusColor(ColorFromRef(v.wheelColour));
        shownWheelColour_ = v.wheelColour;
    }

    const QString line1 = QString::fromStdString(v.line1.text);
    if (VrMatrix1->Text() != line1) {
        VrMatrix1->SetText(line1);
    }
    VrMatrix1->SetScroll(v.line1.scroll);
    const QString line2 = QString::fromStdString(v.line2.text);
    if (VrMatrix2->Text() != line2) {
        VrMatrix2->SetText(line2);
    }
    VrMatrix2->SetScroll(v.line2.scroll);
    // A display that only waits does not wake the program every 150 ms.
    const bool scrolling = v.line1.scroll || v.line2.scroll;
    if (scrolling && !scrollTimer_.isActive()) {
        scrollTimer_.start();
    } else if (!scrolling && scrollTimer_.isActive()) {
        scrollTimer_.stop();
    }

    VrClock2->SetFirst(v.elapsed.first);
    VrClock2->SetSecond(v.elapsed.second);
    VrClock3->SetFirst(v.length.first);
    VrClock3->SetSecond(v.length.second);
    ShowLed(*ledPanel1_, v.entry);
    ShowLed(*ledPanel2_, v.entries);
    ShowLed(*ledBitRate_, v.bitRate);
    ShowLed(*ledRate_, v.rate);
    lblBitRate->SetText(QString::fromStdString(v.bitRateUnit));
    ledMode_->SetMode(v.stereo ? mStereo : mMono);
    if (ledMode_->Enabled() != v.modeEnabled) {
        ledMode_->SetEnabled(v.modeEnabled);
    }

    Label9->SetLit(v.playLit);
    Label11->SetLit(v.pauseLit);
    Label10->SetLit(v.stopLit);
    lblLayer->SetLit(v.layerLit);
    lblLayer2->SetLit(v.layerLit);
    lblLayer2->SetText(QString::fromStdString(v.layerNumber));

    RzTrackBar1->setEnabled(v.trackEnabled);
    if (!RzTrackBar1->Dragging()) {
        RzTrackBar1->SetRange(0, ToInt(v.trackMax));
        RzTrackBar1->SetPosition(ToInt(v.trackPosition));
    }

    MMWheel1->setEnabled(v.wheelEnabled);
    MMWheel1->SetValue(v.wheelValue);
    VrSwitch1->SetPosition(v.powerOn ? 1 : 0);

    RzBmpButton1->setEnabled(v.Button(TPlayerButton::Play));
    RzBmpButton2->setEnabled(v.Button(TPlayerButton::Pause));
    RzBmpButton3->setEnabled(v.Button(TPlayerButton::Stop));
    RzBmpButton5->setEnabled(v.Button(TPlayerButton::Previous));
    RzBmpButton6->setEnabled(v.Button(TPlayerButton::Next));
    RzBmpButton7->setEnabled(v.Button(TPlayerButton::Open));
    RzBmpButton8->setEnabled(v.Button(TPlayerButton::Playlist));

    if (menu_ != nullptr) {
        menu_->Sync(v);
    }
    if (compact_ != nullptr) {
        compact_->Apply(v, c);
    }
    applying_ = false;
}

void MainWindow::ShowTimeOfDay() {
    const QTime now = QTime::currentTime();
    VrClock1->SetFirst(now.hour());
    VrClock1->SetSecond(now.minute());
}

void MainWindow::StepLines() {
    VrMatrix1->Step();
    VrMatrix2->Step();
}

// ---------------------------------------------------------------- the window side

void MainWindow::ProcessMessages() {
    // Paint what was just set ("LOADING..."); user input waits until the open is done.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

bool MainWindow::EditPlaylist(std::vector<std::string>& list, std::string& listFileName, std::size_t index) {
    PlaylistEditorWindow editor(platform::ProgramFolder(), this);
    editor.OnHelp = [this] { ShowHelp(); };
    editor.Start(list, listFileName, index);
    if (const QScreen* screen = editor.screen()) {
        editor.move(screen->availableGeometry().center() - editor.rect().center());
    }
    if (editor.exec() != QDialog::Accepted) {
        return false;
    }
    list = editor.Controller().WorkList();
    listFileName = editor.Controller().ListName();
    return true;
}

void MainWindow::ShowPreferences() {
    if (OnPreferences) {
        OnPreferences();
    }
}

void MainWindow::ShowAbout() {
    platform::MessageBoxRequest box;
    box.caption = "About Tunefold";
    box.text = "Tunefold File Player\nVersion " TUNEFOLD_VERSION
               "\n\nA skinned desktop player for WAVE and MPEG audio files and playlists, with level "
               "meters, an equalizer and a compact control panel.";
    box.icon = platform::MsgIcon::Information;
    box.buttons = platform::MsgButtons::Ok;
    platform::Dialogs().MessageBox(box);
}

QString MainWindow::HelpUrl() {
    const QString exe = QCoreApplication::applicationDirPath();
    // The program's folder; an installed program's share/tunefold; the build tree's mirror of it,
    // beside the program in the build folder.
    const QString candidates[] = {
        QString::fromStdString(platform::JoinPath(platform::ProgramFolder(), "Tunefold.html")),
        QDir::cleanPath(exe + "/../share/tunefold/Tunefold.html"),
        QDir::cleanPath(exe + "/share/tunefold/Tunefold.html")};
    for (const QString& file : candidates) {
        if (QFileInfo(file).isFile()) {
            QUrl url = QUrl::fromLocalFile(file);
            url.setFragment(QStringLiteral("contents"));
            return url.toString();
        }
    }
    return {};
}

void MainWindow::ShowHelp() {
    ++helpRequests_;
    const QString url = HelpUrl();
    if (url.isEmpty()) {
        platform::MessageBoxRequest box;
        box.caption = "Tunefold";
        box.text = "The help file Tunefold.html was not found.";
        box.icon = platform::MsgIcon::Warning;
        platform::Dialogs().MessageBox(box);
        return;
    }
    QDesktopServices::openUrl(QUrl(url));
}

void MainWindow::ShowMain(bool show) {
    setVisible(show);
    if (show) {
        raise();
        activateWindow();
    }
}

void MainWindow::ShowCompact(bool show) {
    if (compact_ != nullptr) {
        compact_->setVisible(show);
    }
}

void MainWindow::ShowCover(bool show) {
    if (cover_ == nullptr) {
        return;
    }
    if (!show) {
        cover_->hide();
        return;
    }
    cover_->ShowOverScreen();
    // The cover lies behind the player's windows.
    if (isVisible()) {
        raise();
        activateWindow();
    }
}

bool MainWindow::CompactVisible() const {
    return compact_ != nullptr && compact_->isVisible();
}

// ---------------------------------------------------------------- events

void MainWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.drawImage(rect(), face_);
    const TPlayerColours c = Colours();
    const QRect glass = kDisplay.adjusted(2, 2, -2, -2);
    // The display panel's bevel: its shadows and highlights are one scheme colour.
    const QColor bevel = ColorFromRef(c.bevel);
    p.fillRect(QRect(kDisplay.left(), kDisplay.top(), kDisplay.width(), 2), bevel);
    p.fillRect(QRect(kDisplay.left(), glass.bottom() + 1, kDisplay.width(), 2), bevel);
    p.fillRect(QRect(kDisplay.left(), glass.top(), 2, glass.height()), bevel);
    p.fillRect(QRect(glass.right() + 1, glass.top(), 2, glass.height()), bevel);
    QLinearGradient gradient(glass.topLeft(), glass.bottomLeft());
    gradient.setColorAt(0, ColorFromRef(c.gradientStart));
    gradient.setColorAt(0.45, ColorFromRef(c.gradientEnd));
    gradient.setColorAt(1, ColorFromRef(c.gradientEnd));
    p.fillRect(glass, gradient);
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
    menu_->Sync(player_->View());
    menu_->Popup(event->globalPos());
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        player_->EscapePressed();
        return;
    }
    QWidget::keyPressEvent(event);
}

std::vector<std::string> DroppedFiles(const QMimeData* data) {
    std::vector<std::string> files;
    if (data == nullptr) {
        return files;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) {
            files.push_back(url.toLocalFile().toStdString());
        }
    }
    return files;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedFiles(event->mimeData()).empty()) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    const std::vector<std::string> files = DroppedFiles(event->mimeData());
    if (files.empty()) {
        return;
    }
    event->acceptProposedAction();
    player_->DropFiles(files);
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    player_->MainShown(true);
    if (!firstShown_) {
        firstShown_ = true;
        // After the window is painted: opening a file lets messages run and shows "LOADING...".
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (OnFirstShow) {
                    OnFirstShow();
                }
            },
            Qt::QueuedConnection);
    }
}

void MainWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (player_ && !event->spontaneous()) {
        player_->MainShown(false);
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    player_->Close();
    if (OnClosing) {
        OnClosing();
    }
    QWidget::closeEvent(event);
}

} // namespace tunefold::windows
