#include "app/windows/transport_buttons.h"

namespace tunefold::windows {

std::array<TransportButton, kPlayerButtonCount>
MakeTransportButtons(QWidget* parent, QPoint origin, QSize size, int spacing, int gapBeforeOpen) {
    using controls::FaceButton;
    const struct {
        FaceButton::Symbol symbol;
        const char* hint;
        TPlayerButton handler;
    } kinds[] = {
        {FaceButton::Symbol::Previous, "Previous File in the Filelist", TPlayerButton::Previous},
        {FaceButton::Symbol::Play, "Play", TPlayerButton::Play},
        {FaceButton::Symbol::Pause, "Pause/Unpause", TPlayerButton::Pause},
        {FaceButton::Symbol::Stop, "Stop", TPlayerButton::Stop},
        {FaceButton::Symbol::Next, "Next File in the Filelist", TPlayerButton::Next},
        {FaceButton::Symbol::Open, "File Open...", TPlayerButton::Open},
        {FaceButton::Symbol::Playlist, "Playlist Editor...", TPlayerButton::Playlist},
    };
    std::array<TransportButton, kPlayerButtonCount> made{};
    int x = origin.x();
    for (std::size_t i = 0; i < made.size(); ++i) {
        if (kinds[i].handler == TPlayerButton::Open) {
            x += gapBeforeOpen;
        }
        auto* button = new FaceButton(kinds[i].symbol, parent);
        button->SetHint(QString::fromLatin1(kinds[i].hint));
        button->setGeometry(x, origin.y(), size.width(), size.height());
        made[i] = {button, kinds[i].handler};
        x += size.width() + spacing;
    }
    return made;
}

} // namespace tunefold::windows
