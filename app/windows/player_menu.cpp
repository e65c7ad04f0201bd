#include "app/windows/player_menu.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

#include "app/logic/file_player.h"

namespace tunefold::windows {

PlayerMenu::PlayerMenu(TFilePlayer& player, QWidget* owner) : QObject(owner), player_(player) {
    menu_ = new QMenu(owner);
    const QKeySequence none;
    Open1 = Item("&Open File...", QKeySequence(Qt::CTRL | Qt::Key_O), [this] { player_.btnOpenClick(); });
    Playlist1 = Item("Open P&laylist...", none, [this] { player_.btnPlayListClick(); });

    recentMenu_ = new QMenu(QStringLiteral("Re&cent Files"), owner);
    RecentFiles1 = menu_->addMenu(recentMenu_);
    for (std::size_t i = 0; i < Recent.size(); ++i) {
        QAction* a = recentMenu_->addAction(QStringLiteral("&%1").arg(i + 1));
        a->setVisible(false);
        // The path is the action's data: a caption is for showing and has its "&" doubled.
        connect(a, &QAction::triggered, this, [this, a] {
            const std::string path = a->data().toString().toStdString();
            if (!path.empty()) {
                Run([this, path] { player_.OPN(path); });
            }
        });
        Recent[i] = a;
    }
    menu_->addSeparator();
    Play1 = Item("&Play", QKeySequence(Qt::CTRL | Qt::Key_P), [this] { player_.btnPlayClick(); });
    Pause1 = Item("Pa&use/Unpause", QKeySequence(Qt::CTRL | Qt::Key_U), [this] { player_.btnPauseClick(); });
    Stop1 = Item("&Stop", QKeySequence(Qt::CTRL | Qt::Key_S), [this] { player_.btnStopClick(); });
    Previous1 = Item("P&revious File in the Filelist", QKeySequence(Qt::CTRL | Qt::Key_R),
                     [this] { player_.btnPrevClick(); });
    Next1 = Item("&Next File in the Filelist", QKeySequence(Qt::CTRL | Qt::Key_N),
                 [this] { player_.btnNextClick(); });
    menu_->addSeparator();
    Preferences1 = Item("Pre&ferences...", none, [this] { player_.PreferencesClick(); });
    menu_->addSeparator();
    Info1 = Item("&About...", none, [this] { player_.Info1Click(); });
    Help1 = Item("&Help...", QKeySequence(Qt::Key_F1), [this] { player_.Help1Click(); });
    menu_->addSeparator();
    CompactPanel1 = Item("Compact Control Panel", none, [this] { player_.CompactPanel1Click(); });
    ShowEqualizer1 = Item("Show Equalizer", none, [this] { player_.ShowEqualizer1Click(); });
    ShowFilePlayer1 = Item("Show File Player", none, [this] { player_.ShowFilePlayer1Click(); });
    ShowCdPlayer1 = Item("Show CD Player", none, [this] {
        if (OnShowCdPlayer) {
            OnShowCdPlayer();
        }
    });
    menu_->addSeparator();
    HideDesktop1 =
        Item("Hide Desktop", QKeySequence(Qt::CTRL | Qt::Key_H), [this] { player_.HideDesktop1Click(); });
    menu_->addSeparator();
    Exit1 = Item("E&xit", QKeySequence(Qt::CTRL | Qt::Key_Q), [this] {
        if (OnExit) {
            OnExit();
        }
    });
    for (QAction* a : {CompactPanel1, ShowEqualizer1, ShowFilePlayer1, HideDesktop1}) {
        a->setCheckable(true);
    }
    Sync(player_.View());
}

PlayerMenu::~PlayerMenu() = default;

QAction* PlayerMenu::Item(const char* caption, const QKeySequence& shortcut, std::function<void()> handler) {
    QAction* a = menu_->addAction(QString::fromLatin1(caption));
    a->setShortcut(shortcut);
    // Active wherever the window that owns a copy of the action is the active one.
    a->setShortcutContext(Qt::WindowShortcut);
    connect(a, &QAction::triggered, this, [this, handler = std::move(handler)] { Run(handler); });
    return a;
}

void PlayerMenu::Run(const std::function<void()>& handler) {
    handler();
    Sync(player_.View());
}

void PlayerMenu::AttachTo(QWidget& window) const {
    for (QAction* a : menu_->actions()) {
        if (!a->shortcut().isEmpty()) {
            window.addAction(a);
        }
    }
}

void PlayerMenu::Popup(QPoint global) const {
    menu_->popup(global);
}

void PlayerMenu::Sync(const TFilePlayerView& v) {
    Open1->setEnabled(v.Button(TPlayerButton::Open));
    Playlist1->setEnabled(v.Button(TPlayerButton::Playlist));
    Play1->setEnabled(v.Button(TPlayerButton::Play));
    Pause1->setEnabled(v.Button(TPlayerButton::Pause));
    Stop1->setEnabled(v.Button(TPlayerButton::Stop));
    Previous1->setEnabled(v.Button(TPlayerButton::Previous));
    Next1->setEnabled(v.Button(TPlayerButton::Next));
    Preferences1->setEnabled(v.preferencesEnabled);
    RecentFiles1->setEnabled(v.recentEnabled);
    for (std::size_t i = 0; i < Recent.size(); ++i) {
        const TRecentItem& item = v.recent[i];
        QAction* a = Recent[i];
        const QString path = QString::fromStdString(item.path);
        if (a->data().toString() != path) {
            a->setData(path);
            QString shown = path;
            shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
            a->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(shown));
        }
        a->setVisible(item.visible && !item.path.empty());
    }
    CompactPanel1->setChecked(v.compactPanelChecked);
    ShowEqualizer1->setChecked(v.showEqualizerChecked);
    ShowFilePlayer1->setChecked(v.showFilePlayerChecked);
    HideDesktop1->setChecked(v.hideDesktopChecked);
    HideDesktop1->setEnabled(v.hideDesktopEnabled);
}

} // namespace tunefold::windows
