#include "app/windows/compact_panel.h"
#include "app/windows/transport_buttons.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QScreen>

#include "app/controls/blotter_panel.h"
#include "app/controls/color_ref.h"
#include "app/controls/face_button.h"
#include "app/controls/lit_label.h"
#include "app/controls/raster_host.h"
#include "app/controls/segment_clock.h"
#include "app/logic/file_player.h"
#include "app/windows/colour_slots.h"
#include "app/windows/main_window.h"
#include "app/windows/player_menu.h"
#include "engine/displays/leds.h"

namespace tunefold::windows {

using controls::ColorFromRef;

CompactPanel::CompactPanel(MainWindow& main)
    : QWidget(nullptr, Qt::FramelessWindowHint), main_(&main), player_(&main.Player()) {
    setWindowTitle(QStringLiteral("Compact"));
    setFixedSize(kWidth, kHeight);
    setAcceptDrops(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    Build();
    Wire();
    main.Menu().AttachTo(*this);
    player_->SetCompactReady(true);
    PlaceAtTopRight();
    Apply(player_->View(), main.Colours());
}

CompactPanel::~CompactPanel() {
    Detach();
    delete ledHosts_[0];
    delete ledHosts_[1];
}

void CompactPanel::Detach() {
    if (player_ != nullptr) {
        player_->SetCompactReady(false);
    }
    main_ = nullptr;
    player_ = nullptr;
}

void CompactPanel::Build() {
    using controls::FaceButton;
    VrBlotter1 = new controls::BlotterPanel(this);
    VrBlotter1->setGeometry(0, 0, kWidth, kHeight);
    VrBlotter1->SetOuter(controls::BevelStyle::Raised);
    VrBlotter1->SetInner(controls::BevelStyle::Lowered);
    VrBlotter1->setCursor(Qt::SizeAllCursor);

    transport_ = MakeTransportButtons(VrBlotter1, QPoint(8, 12), QSize(24, 20), 2, 6);
    for (const TransportButton& b : transport_) {
        b.button->setEnabled(false);
        b.button->setCursor(Qt::ArrowCursor);
        // A disabled button takes no presses; they must still not reach the panel and drag it.
        b.button->setAttribute(Qt::WA_NoMousePropagation);
    }
    RzBmpButton5 = transport_[0].button;
    RzBmpButton1 = transport_[1].button;
    RzBmpButton2 = transport_[2].button;
    RzBmpButton3 = transport_[3].button;
    RzBmpButton6 = transport_[4].button;
    RzBmpButton7 = transport_[5].button;
    RzBmpButton8 = transport_[6].button;
    int x = RzBmpButton8->x() + RzBmpButton8->width() + 2;

    // Clocks and counters, each under its caption; none of them takes the mouse, so a press on
    // them drags the panel.
    x += 8;
    const char* names[] = {"ELAPSED", "LENGTH", "PR", "TR"};
    for (std::size_t i = 0; i < 4; ++i) {
        captions_[i] = new controls::LitLabel(QString::fromLatin1(names[i]), VrBlotter1);
        captions_[i]->SetLit(true);
        captions_[i]->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    for (controls::SegmentClock** clock : {&VrClock2, &VrClock3}) {
        *clock = new controls::SegmentClock(VrBlotter1);
        (*clock)->SetDigitSize(8, 15, 2);
        (*clock)->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    captions_[0]->move(x + 1, 5);
    VrClock2->move(x, 14);
    x += VrClock2->width() + 8;
    captions_[1]->move(x + 1, 5);
    VrClock3->move(x, 14);
    x += VrClock3->width() + 10;

    for (std::unique_ptr<TMMLEDPanel>* panel : {&ledPanel1_, &ledPanel2_}) {
        *panel = std::make_unique<TMMLEDPanel>();
        (*panel)->Bevel().SetBevelOuter(bvNone);
        (*panel)->SetDigitSize(ls08x13);
        (*panel)->SetNumDigits(2);
        (*panel)->SetMaxValue(99);
        (*panel)->SetValue(0);
        (*panel)->SetEnabled(false);
    }
    ledHosts_[0] = new controls::RasterHost(*ledPanel1_, VrBlotter1);
    ledHosts_[1] = new controls::RasterHost(*ledPanel2_, VrBlotter1);
    for (std::size_t i = 0; i < 2; ++i) {
        ledHosts_[i]->setAttribute(Qt::WA_TransparentForMouseEvents);
        captions_[2 + i]->move(x + 2, 5);
        ledHosts_[i]->move(x, 17);
        x += ledHosts_[i]->width() + 12;
    }
}

void CompactPanel::Wire() {
    for (const TransportButton& b : transport_) {
        connect(b.button, &controls::FaceButton::clicked, this, [this, h = b.handler] {
            if (player_ != nullptr) {
                player_->Click(h);
            }
        });
    }
    // Any button drags; Left := Left + X - DragX, with X in the blotter's own coordinates, so the
    // panel follows the mouse however far it has moved already.
    connect(VrBlotter1, &controls::BlotterPanel::mousePressed, this, [this](Qt::MouseButton, QPoint at) {
        dragging_ = true;
        dragStart_ = at;
    });
    connect(VrBlotter1, &controls::BlotterPanel::mouseMoved, this, [this](Qt::MouseButtons, QPoint at) {
        if (dragging_) {
            move(pos() + at - dragStart_);
        }
    });
    connect(VrBlotter1, &controls::BlotterPanel::mouseReleased, this,
            [this](Qt::MouseButton, QPoint) { dragging_ = false; });
}

void CompactPanel::PlaceAtTopRight() {
    QScreen* screen = main_ != nullptr && main_->screen() != nullptr ? main_->screen() : this->screen();
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->geometry();
    move(area.left() + area.width() - width(), area.top());
}

void CompactPanel::Apply(const TFilePlayerView& v, const TPlayerColours& c) {
    // Every colour change repaints its control: only a real change is passed on.
    if (!shownColours_ || *shownColours_ != c) {
        ApplyColours(c);
        shownColours_ = c;
    }
    VrClock2->SetFirst(v.elapsed.first);
    VrClock2->SetSecond(v.elapsed.second);
    VrClock3->SetFirst(v.length.first);
    VrClock3->SetSecond(v.length.second);
    const struct {
        TMMLEDPanel* panel;
        const TLedNumber& number;
    } counters[] = {{ledPanel1_.get(), v.entry}, {ledPanel2_.get(), v.entries}};
    for (const auto& counter : counters) {
        counter.panel->SetValue(counter.number.value);
        if (counter.panel->Enabled() != counter.number.enabled) {
            counter.panel->SetEnabled(counter.number.enabled);
        }
    }
    RzBmpButton1->setEnabled(v.Button(TPlayerButton::Play));
    RzBmpButton2->setEnabled(v.Button(TPlayerButton::Pause));
    RzBmpButton3->setEnabled(v.Button(TPlayerButton::Stop));
    RzBmpButton5->setEnabled(v.Button(TPlayerButton::Previous));
    RzBmpButton6->setEnabled(v.Button(TPlayerButton::Next));
    RzBmpButton7->setEnabled(v.Button(TPlayerButton::Open));
    RzBmpButton8->setEnabled(v.Button(TPlayerButton::Playlist));
}

void CompactPanel::ApplyColours(const TPlayerColours& c) {
    VrBlotter1->SetFaceColor(ColorFromRef(c.compactBackground));
    const QColor bevel = ColorFromRef(c.compactBevel);
    VrBlotter1->SetOuterColors(bevel, bevel);
    VrBlotter1->SetInnerColors(bevel, bevel);
    for (controls::SegmentClock* clock : {VrClock2, VrClock3}) {
        clock->SetHighColor(ColorFromRef(c.compactClock.lit));
        clock->SetLowColor(ColorFromRef(ThroughGlass(c.compactClock.unlit, c.compactBackground, 25)));
        clock->SetBackColor(ColorFromRef(c.compactBackground));
    }
    for (controls::LitLabel* l : captions_) {
        l->SetLitColor(ColorFromRef(c.compactCaptions));
    }
    for (TMMLEDPanel* panel : {ledPanel1_.get(), ledPanel2_.get()}) {
        panel->SetColor(c.compactBackground);
        panel->SetLEDColor(c.compactLeds.lit);
        panel->SetInactiveColor(ThroughGlass(c.compactLeds.unlit, c.compactBackground, 25));
    }
}

void CompactPanel::contextMenuEvent(QContextMenuEvent* event) {
    if (main_ != nullptr) {
        main_->Menu().Sync(player_->View());
        main_->Menu().Popup(event->globalPos());
    }
}

void CompactPanel::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedFiles(event->mimeData()).empty()) {
        event->acceptProposedAction();
    }
}

void CompactPanel::dropEvent(QDropEvent* event) {
    const std::vector<std::string> files = DroppedFiles(event->mimeData());
    if (files.empty() || player_ == nullptr) {
        return;
    }
    event->acceptProposedAction();
    player_->DropFiles(files);
}

void CompactPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (player_ != nullptr) {
        player_->CompactShown(true);
    }
}

void CompactPanel::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    dragging_ = false;
    if (player_ != nullptr && !event->spontaneous()) {
        player_->CompactShown(false);
    }
}

} // namespace tunefold::windows
