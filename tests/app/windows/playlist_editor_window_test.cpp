// The playlist editor's dialog driven as a user drives it: clicks in the lists, drags between and
// within them, the buttons, OK and Cancel from the player's menu; with pictures of the dialog with a
// list and during a drag in build/screenshots/.
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>

#include "app/controls/power_switch.h"
#include "app/windows/player_menu.h"
#include "app/windows/playlist_editor_window.h"
#include "engine/framework/resources.h"
#include "platform/atomic_file.h"
#include "platform/virtual/virtual_folders.h"
#include "player_windows.h"
#include "qt/qt_test_support.h"
#include "qt/screenshot.h"

namespace tunefold::test {
namespace {

using PlaylistEditorWindows = PlayerWindowsFixture;
using windows::EditorList;
using windows::PlaylistEditorWindow;

QPoint RowCentre(EditorList& list, int row) {
    return list.visualRect(list.model()->index(row, 0)).center();
}

void ClickRow(EditorList& list, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::mouseClick(list.viewport(), Qt::LeftButton, modifiers, RowCentre(list, row));
}

// A drag of the editor's rows from `source` arriving over `target` at `at` (viewport coordinates),
// as the window system delivers it: enter, moves, then a drop or a leave.
class EditorDrag {
public:
    explicit EditorDrag(const char* source) { mime_.setData(EditorList::kMimeType, source); }
    void Enter(EditorList& target, QPoint at) {
        QDragEnterEvent e(at, Qt::MoveAction | Qt::CopyAction | Qt::LinkAction, &mime_, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(target.viewport(), &e);
        Move(target, at);
    }
    bool Move(EditorList& target, QPoint at) {
        QDragMoveEvent e(at, Qt::MoveAction | Qt::CopyAction | Qt::LinkAction, &mime_, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(target.viewport(), &e);
        return e.isAccepted();
    }
    void Leave(EditorList& target) {
        QDragLeaveEvent e;
        QApplication::sendEvent(target.viewport(), &e);
    }
    void Drop(EditorList& target, QPoint at) {
        QDropEvent e(at, Qt::MoveAction | Qt::CopyAction | Qt::LinkAction, &mime_, Qt::LeftButton,
                     Qt::NoModifier);
        QApplication::sendEvent(target.viewport(), &e);
    }

private:
    QMimeData mime_;
};

TEST_F(PlaylistEditorWindows, ListsButtonsAndDragsWithinAndBetweenTheLists) {
    const std::string music = (folder / "music").string();
    std::filesystem::create_directories(folder / "music" / "Live");
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
        std::filesystem::copy_file(Fixture("pcm16_stereo_44100.wav"), folder / "music" / name);
    }
    platform::VirtualFolders places({{"Home", folder.string()}, {"/ (File System)", "/"}});
    platform::ScopedFolders scopedPlaces(places);

    std::vector<std::string> list;
    for (int i = 0; i < 6; ++i) {
        list.push_back(music + "/" + std::string(1, static_cast<char>('a' + i % 3)) + ".wav#" +
                       std::to_string(i));
    }
    list[1] = music + "/b.wav";
    PlaylistEditorWindow dialog("/opt/tf", nullptr, [] { return 49510250u; });
    dialog.Start(list, music + "/party.lst", 1);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    EXPECT_EQ(dialog.windowTitle().toStdString(), "Playlist Editor - " + music + "/party.lst");
    EXPECT_EQ(dialog.PlayListBox->model()->rowCount(), 6);
    EXPECT_EQ(dialog.FileListBox->model()->rowCount(), 3);
    EXPECT_EQ(dialog.DriveComboBox1->currentIndex(), 0);
    EXPECT_TRUE(dialog.RadioButton1->isChecked());
    EXPECT_FALSE(dialog.RadioButton2->isEnabled()); // locked while the list has entries
    EXPECT_FALSE(dialog.Button2->isEnabled());      // "&Open List" only for an empty list
    EXPECT_EQ(dialog.RzStatusPane2->text().toStdString(), "WAVE -  PCM 44.100 kHz, 16 Bit, Stereo");
    // The selected row's note is the plain one inverted.
    const QImage& plain = dialog.NoteBitmap();
    const QImage& selected = dialog.SelectedNoteBitmap();
    ASSERT_EQ(plain.size(), selected.size());
    EXPECT_EQ(plain.pixel(3, 12) & 0xFFFFFF, ~selected.pixel(3, 12) & 0xFFFFFF);
    EXPECT_EQ(qAlpha(plain.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(plain.pixel(3, 12)), 255);
    EXPECT_EQ(qAlpha(selected.pixel(0, 0)), 0);

    // A click in the file list shows its info on the left and enables adding.
    EXPECT_FALSE(dialog.AddButton->isEnabled());
    ClickRow(*dialog.FileListBox, 0);
    EXPECT_TRUE(dialog.AddButton->isEnabled());
    EXPECT_EQ(dialog.RzStatusPane1->text().toStdString(), "WAVE -  PCM 44.100 kHz, 16 Bit, Stereo");
    ASSERT_TRUE(SavePng(Render(dialog), "playlist_editor.png"));

    // Rows 2 and 4 dragged onto row 0.
    ClickRow(*dialog.PlayListBox, 2);
    ClickRow(*dialog.PlayListBox, 4, Qt::ControlModifier);
    EXPECT_TRUE(dialog.RemoveButton->isEnabled());
    EditorDrag within("play");
    within.Enter(*dialog.PlayListBox, RowCentre(*dialog.PlayListBox, 3));
    EXPECT_EQ(dialog.PlayListBox->DropIndicator(), 3);
    EXPECT_EQ(dialog.Controller().View().dragCursor, TDragCursor::TrackDrag);
    ASSERT_TRUE(SavePng(Render(dialog), "playlist_editor_drag.png"));
    // Below the last row the drop goes to the end.
    EXPECT_TRUE(within.Move(*dialog.PlayListBox, QPoint(20, 200)));
    EXPECT_EQ(dialog.PlayListBox->DropIndicator(), 6);
    EXPECT_TRUE(within.Move(*dialog.PlayListBox, QPoint(20, 3)));
    EXPECT_EQ(dialog.PlayListBox->DropIndicator(), 0);
    within.Drop(*dialog.PlayListBox, QPoint(20, 3));
    dialog.Controller().ListEndDrag();
    const std::vector<std::string> moved = {list[2], list[4], list[0], list[1], list[3], list[5]};
    EXPECT_EQ(dialog.Controller().WorkList(), moved);
    EXPECT_EQ(dialog.PlayListBox->model()->index(0, 0).data().toString().toStdString(), list[2]);
    EXPECT_TRUE(dialog.PlayListBox->selectionModel()->selectedRows().isEmpty());

    // Two files dragged from the file list onto row 1 of the play list.
    ClickRow(*dialog.FileListBox, 1);
    ClickRow(*dialog.FileListBox, 2, Qt::ShiftModifier);
    EditorDrag add("files");
    add.Enter(*dialog.PlayListBox, RowCentre(*dialog.PlayListBox, 1) - QPoint(0, 4));
    EXPECT_EQ(dialog.Controller().View().dragCursor, TDragCursor::TrackAdd);
    // Outside the list, the auto-scroll runs; back inside, it stops.
    add.Leave(*dialog.PlayListBox);
    EXPECT_TRUE(dialog.ScrollTimer.isActive());
    add.Enter(*dialog.PlayListBox, RowCentre(*dialog.PlayListBox, 1) - QPoint(0, 4));
    EXPECT_FALSE(dialog.ScrollTimer.isActive());
    add.Drop(*dialog.PlayListBox, RowCentre(*dialog.PlayListBox, 1) - QPoint(0, 4));
    dialog.Controller().ListEndDrag();
    ASSERT_EQ(dialog.Controller().WorkList().size(), 8u);
    EXPECT_EQ(dialog.Controller().WorkList()[1], music + "/b.wav");
    EXPECT_EQ(dialog.Controller().WorkList()[2], music + "/c.wav");
    EXPECT_EQ(dialog.PlayListBox->model()->rowCount(), 8);

    // Play-list rows dragged onto the file list are removed; a drag of files onto the files does nothing.
    ClickRow(*dialog.PlayListBox, 0);
    EditorDrag remove("play");
    remove.Enter(*dialog.FileListBox, RowCentre(*dialog.FileListBox, 0));
    EXPECT_EQ(dialog.Controller().View().dragCursor, TDragCursor::TrackDelete);
    remove.Drop(*dialog.FileListBox, RowCentre(*dialog.FileListBox, 0));
    EXPECT_EQ(dialog.Controller().WorkList().size(), 7u);
    EditorDrag nothing("files");
    nothing.Enter(*dialog.FileListBox, RowCentre(*dialog.FileListBox, 0));
    nothing.Drop(*dialog.FileListBox, RowCentre(*dialog.FileListBox, 0));
    EXPECT_EQ(dialog.Controller().WorkList().size(), 7u);

    // The shuffle with the fixed clock, then Clear All unlocks the radios.
    QTest::mouseClick(dialog.RandomizeButton, Qt::LeftButton);
    EXPECT_TRUE(dialog.RzStatusPane2->text().isEmpty());
    QTest::mouseClick(dialog.ClearButton, Qt::LeftButton);
    EXPECT_EQ(dialog.PlayListBox->model()->rowCount(), 0);
    EXPECT_TRUE(dialog.RadioButton2->isEnabled());
    EXPECT_TRUE(dialog.Button2->isEnabled());

    // The folder tree: its subfolder opens on activation, the place stays the same.
    bool found = false;
    for (int i = 0; i < dialog.DirectoryListBox1->count(); ++i) {
        QListWidgetItem* item = dialog.DirectoryListBox1->item(i);
        if (item->data(Qt::UserRole).toString().endsWith(QStringLiteral("/Live"))) {
            found = true;
            emit dialog.DirectoryListBox1->itemActivated(item);
            break;
        }
    }
    ASSERT_TRUE(found);
    EXPECT_EQ(dialog.Controller().View().folder, music + "/Live");
    EXPECT_EQ(dialog.FileListBox->model()->rowCount(), 0);

    int helps = 0;
    dialog.OnHelp = [&helps] { ++helps; };
    QTest::keyClick(&dialog, Qt::Key_F1);
    EXPECT_EQ(helps, 1);
    dialog.reject();
}

// The note and the three drag cursors of the resources, four times their size, for a person to look at.
TEST(PlaylistEditorPictures, NoteAndDragCursors) {
    QImage sheet(4 * 136, 128, QImage::Format_RGB32);
    sheet.fill(QColor(128, 128, 128));
    QPainter p(&sheet);
    int left = 0;
    for (const char* name : {"BM_NOTE", "CR_TRACKDRAG", "CR_TRACKADD", "CR_TRACKDELETE"}) {
        const std::optional<TRaster> raster = LoadBitmapResource(name);
        ASSERT_TRUE(raster) << name;
        QImage image(raster->Width(), raster->Height(), QImage::Format_RGB32);
        for (int y = 0; y < raster->Height(); ++y) {
            for (int x = 0; x < raster->Width(); ++x) {
                image.setPixel(x, y, 0xFF000000u | raster->Row(y)[x]);
            }
        }
        p.drawImage(QRect(left, 0, 128, 128), image);
        left += 136;
    }
    p.end();
    ASSERT_TRUE(SavePng(sheet, "playlist_editor_pictures.png"));
}

TEST_F(PlaylistEditorWindows, OkFromThePlayersMenuHandsTheListOverAndCancelKeepsThePlayersList) {
    const std::string a = Copy("pcm16_stereo_44100.wav", "a.wav");
    const std::string b = Copy("pcm8_mono_8000.wav", "b.wav");
    const std::string listFile = Write("two.lst", a + "\r\n" + b + "\r\n");
    Click(*main->VrSwitch1);
    Player().OPN(listFile);
    ASSERT_EQ(Player().FileList().size(), 2u);

    // Cancel: the player keeps its list, nothing is asked.
    QTimer::singleShot(0, [] {
        auto* editor = dynamic_cast<PlaylistEditorWindow*>(QApplication::activeModalWidget());
        ASSERT_NE(editor, nullptr);
        editor->Controller().ClearButtonClick();
        QTest::mouseClick(editor->CancelButton, Qt::LeftButton);
    });
    main->Menu().Playlist1->trigger();
    EXPECT_EQ(Player().FileList().size(), 2u);
    EXPECT_EQ(dialogs.AskedCount(), 0u);

    // OK after removing the first entry: asked to save (No), the player takes the one left.
    dialogs.QueueMessageBox(platform::MsgResult::No);
    std::string caption;
    QTimer::singleShot(0, [&caption] {
        auto* editor = dynamic_cast<PlaylistEditorWindow*>(QApplication::activeModalWidget());
        ASSERT_NE(editor, nullptr);
        caption = editor->windowTitle().toStdString();
        ClickRow(*editor->PlayListBox, 0);
        QTest::mouseClick(editor->RemoveButton, Qt::LeftButton);
        QTest::mouseClick(editor->OKButton, Qt::LeftButton);
    });
    main->Menu().Playlist1->trigger();
    EXPECT_EQ(caption, "Playlist Editor - " + listFile);
    ASSERT_EQ(dialogs.MessageBoxes().size(), 1u);
    EXPECT_EQ(dialogs.MessageBoxes()[0].text, "Save Changes to the PlayList ?");
    EXPECT_EQ(Player().FileList(), std::vector<std::string>{b});
    EXPECT_EQ(Player().ListFileName(), listFile);
    std::ifstream in(listFile, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, a + "\r\n" + b + "\r\n"); // "No" saved nothing
}

} // namespace
} // namespace tunefold::test
