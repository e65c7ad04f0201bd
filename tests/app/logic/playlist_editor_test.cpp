// The playlist editor's controller without a window: the entries each flavour writes and where it
// may add, the shuffle's exact sequence, moving rows, the buttons' states, the files it opens and
// saves, and what it asks when it closes.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/logic/playlist_editor.h"
#include "platform/dialogs.h"
#include "platform/virtual/scripted_dialogs.h"
#include "platform/virtual/virtual_folders.h"
#include "support/files.h"

namespace tunefold {
namespace {

namespace fs = std::filesystem;
using List = std::vector<std::string>;
using platform::FileDialogResult;
using platform::MsgResult;

// Folders whose contents the test gives, for places no test may write to ("/", "/music").
class GivenFolders : public platform::FolderService {
public:
    std::vector<platform::Place> Places() override { return {{"/ (File System)", "/"}}; }
    platform::FolderContents List(const std::string& folder) override {
        const auto it = folders.find(folder);
        if (it == folders.end()) {
            return {};
        }
        return it->second;
    }
    std::map<std::string, platform::FolderContents> folders;
};

class Editor : public ::testing::Test {
protected:
    void SetUp() override { root = test::FreshFolder("editor"); }

    std::unique_ptr<TPlaylistEditor> Make(const std::string& programFolder, std::uint32_t clock = 0) {
        return std::make_unique<TPlaylistEditor>(window, programFolder, [clock] { return clock; });
    }
    std::string Touch(const fs::path& file) {
        fs::create_directories(file.parent_path());
        test::WriteBytes(file, "x");
        return file.string();
    }
    static List Rows(std::initializer_list<const char*> names) { return List(names.begin(), names.end()); }
    static std::vector<std::size_t> AllOf(const std::vector<std::string>& files) {
        std::vector<std::size_t> rows(files.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            rows[i] = i;
        }
        return rows;
    }

    TPlaylistEditorWindow window;
    platform::VirtualFolders folders{{{"Home", "/nonexistent-home"}, {"/ (File System)", "/"}}};
    platform::ScopedFolders scopedFolders{folders};
    platform::ScriptedDialogs dialogs;
    platform::ScopedDialogs scopedDialogs{dialogs};
    fs::path root;
};

TEST_F(Editor, M3uEntriesAreBelowTheProgramFolderAndOnlyThereCanFilesBeAdded) {
    const fs::path program = root / "opt" / "tf";
    Touch(program / "Songs" / "b.wav");
    // Folders whose text holds the program folder without lying below it.
    Touch(root / "home" / "u" / "opt" / "tf" / "x" / "a.wav");
    Touch(root / "opt" / "tfx" / "c.wav");

    auto editor = Make(program.string());
    editor->FormShow({}, "noname.lst", 0);
    editor->RadioButton2Click();
    EXPECT_EQ(editor->View().flavour, TPlaylistFlavour::M3U);
    EXPECT_EQ(editor->ListName(), "noname.m3u");

    for (const fs::path& outside : {root / "home" / "u" / "opt" / "tf" / "x", root / "opt" / "tfx"}) {
        editor->DirectoryListBox1Change(outside.string());
        ASSERT_EQ(editor->View().files.size(), 1u) << outside;
        editor->SelectFiles({0}, 0);
        EXPECT_FALSE(editor->View().addEnabled) << outside;
        EXPECT_FALSE(editor->View().addAllEnabled) << outside;
        EXPECT_FALSE(editor->View().fileDragEnabled) << outside;
        editor->AddButtonClick();
        editor->ListDragDrop(TEditorList::Files, TEditorList::Play, 0); // a drop does not get past it either
        EXPECT_TRUE(editor->WorkList().empty()) << outside;
    }

    editor->DirectoryListBox1Change((program / "Songs").string());
    editor->SelectFiles({0}, 0);
    EXPECT_TRUE(editor->View().addEnabled);
    editor->AddButtonClick();
    EXPECT_EQ(editor->WorkList(), Rows({"\\Songs/b.wav"}));
    // The flavour that wrote it is locked now.
    EXPECT_TRUE(editor->View().m3uEnabled);
    EXPECT_FALSE(editor->View().lstEnabled);

    // In the program folder itself, and with the folder given with a trailing "/".
    Touch(program / "top.mp3");
    auto second = Make(program.string() + "/");
    second->FormShow({}, "noname.m3u", 0);
    EXPECT_EQ(second->View().flavour, TPlaylistFlavour::M3U);
    second->DirectoryListBox1Change(program.string());
    second->SelectFiles({0}, 0);
    second->AddButtonClick();
    EXPECT_EQ(second->WorkList(), Rows({"\\top.mp3"}));
}

TEST_F(Editor, LstEntriesAreFullPathsFromTheRootAndFromAFolder) {
    GivenFolders given;
    given.folders["/"] = {true, {"music"}, {"x.mp3"}};
    given.folders["/music"] = {true, {}, {"x.mp3", "y.MP2"}};
    platform::ScopedFolders scoped(given);

    auto editor = Make("/opt/tf");
    editor->FormShow({}, "noname.lst", 0);
    editor->DirectoryListBox1Change("/");
    editor->SelectFiles({0}, 0);
    editor->AddButtonClick();
    editor->DirectoryListBox1Change("/music/");
    editor->SelectFiles({0}, 0);
    editor->AddButtonClick();
    editor->Button1Click(); // all of the folder, at the end
    EXPECT_EQ(editor->WorkList(), Rows({"/x.mp3", "/music/x.mp3", "/music/x.mp3", "/music/y.MP2"}));
    EXPECT_TRUE(editor->Modified());
}

TEST_F(Editor, AddingScrollsTheAddedRowsIntoViewAndRemovingScrollsToTheTop) {
    Touch(root / "m" / "a.wav");
    Touch(root / "m" / "b.wav");
    auto editor = Make("/opt/tf");
    editor->SetPlayListRows(10);
    editor->FormShow(List(30, "x"), (root / "m" / "l.lst").string(), 25);
    EXPECT_EQ(editor->View().playTop, 16); // the current row is the last one shown
    editor->SelectFiles({0, 1}, 1);
    const std::uint32_t serial = editor->View().scrollSerial;
    editor->AddButtonClick();
    EXPECT_NE(editor->View().scrollSerial, serial);
    EXPECT_EQ(editor->View().playTop, 22); // the end of the list, whose last row is the last one shown
    editor->ListDragDrop(TEditorList::Files, TEditorList::Play, 3);
    EXPECT_EQ(editor->WorkList()[3], (root / "m" / "a.wav").string());
    editor->SelectEntries({5, 6}, 6);
    editor->RemoveButtonClick();
    EXPECT_EQ(editor->View().playTop, 0);
    EXPECT_EQ(editor->View().playCurrent, 0);
    EXPECT_EQ(editor->WorkList().size(), 32u);
}

TEST_F(Editor, FileListShowsTheMaskedFilesSortedAndTheFolderTreeFromItsPlace) {
    for (const char* name :
         {"b.WAV", "A.mp3", "c.l2", "d.L3", "e.atx", "f.mp2", "g.ogg", "h.mp3.txt", "mp3", ".hidden.mp3"}) {
        Touch(root / "music" / name);
    }
    fs::create_directories(root / "music" / "Zeta");
    fs::create_directories(root / "music" / "alpha");
    folders.SetPlaces({{"Home", root.string()}, {"/ (File System)", "/"}});

    auto editor = Make("/opt/tf");
    editor->FormShow({}, (root / "music" / "list.lst").string(), 0);
    const TPlaylistEditorView& v = editor->View();
    EXPECT_EQ(v.folder, (root / "music").string());
    EXPECT_EQ(v.files, Rows({"A.mp3", "b.WAV", "c.l2", "d.L3", "e.atx", "f.mp2"}));
    EXPECT_EQ(v.placeIndex, 0); // the deepest place that holds the folder
    ASSERT_EQ(v.folderRows.size(), 4u);
    EXPECT_EQ(v.folderRows[0].path, root.string());
    EXPECT_TRUE(v.folderRows[1].current);
    EXPECT_EQ(v.folderRows[1].caption, "music");
    EXPECT_EQ(v.folderRows[2].caption, "alpha");
    EXPECT_EQ(v.folderRows[3].caption, "Zeta");
    EXPECT_EQ(v.folderRows[3].depth, 2);

    // Changing the folder empties the left pane and the file selection.
    editor->SelectFiles({0}, 0);
    editor->ListMouseUp(TEditorList::Files);
    EXPECT_EQ(editor->View().leftPane, "Unknown File");
    editor->PlaceChange(1);
    EXPECT_EQ(editor->View().folder, "/");
    EXPECT_EQ(editor->View().placeIndex, 1);
    EXPECT_TRUE(editor->View().leftPane.empty());
    EXPECT_FALSE(editor->View().addEnabled);
}

TEST_F(Editor, ShuffleFollowsTheGeneratorFromTheClock) {
    // 13:45:10.250 UTC is the seed ((13*60+45)*60+10)*1000+250 = 49510250. Each draw sets
    // seed := seed*134775813+1 (mod 2^32) and takes (seed*5) >> 32:
    //   2745433363 -> 3, 1095351648 -> 1, 924201697 -> 1, 615711334 -> 0, 1206625279 -> 1.
    // The moves (i to j): ABCDE -0>3- BCDAE -1>1- BCDAE -2>1- BDCAE -3>0- ABDCE -4>1- AEBDC.
    EXPECT_EQ(ShuffleSeed(13, 45, 10, 250), 49510250u);
    TShuffleRandom random(49510250u);
    EXPECT_EQ(random.Next(5), 3u);
    EXPECT_EQ(random.Next(5), 1u);

    auto editor = Make("/opt/tf", 49510250u);
    editor->FormShow({"A", "B", "C", "D", "E"}, "/lists/x.lst", 2);
    EXPECT_FALSE(editor->Modified());
    editor->RandomizeButtonClick();
    EXPECT_EQ(editor->WorkList(), Rows({"A", "E", "B", "D", "C"}));
    EXPECT_TRUE(editor->Modified());
    EXPECT_TRUE(editor->View().rightPane.empty());
    EXPECT_FALSE(editor->View().removeEnabled);

    auto one = Make("/opt/tf", 12345u);
    one->FormShow({"only"}, "/lists/x.lst", 0);
    one->RandomizeButtonClick();
    EXPECT_EQ(one->WorkList(), Rows({"only"}));
    EXPECT_EQ(ShuffleOrder(0, 1).size(), 0u);
}

// The moves as the editor describes them, one entry at a time.
List MoveStepByStep(List list, std::vector<bool> selected, int target) {
    if (list.size() < 2) {
        return list;
    }
    target = std::max(target, 0);
    for (std::size_t index = 0; index < list.size();) {
        if (!selected[index]) {
            ++index;
            continue;
        }
        selected[index] = false;
        const auto t = static_cast<std::size_t>(target);
        std::string entry = list[index];
        const bool flag = selected[index];
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(index));
        selected.erase(selected.begin() + static_cast<std::ptrdiff_t>(index));
        if (index < t) {
            list.insert(list.begin() + static_cast<std::ptrdiff_t>(t - 1), entry);
            selected.insert(selected.begin() + static_cast<std::ptrdiff_t>(t - 1), flag);
        } else {
            list.insert(list.begin() + static_cast<std::ptrdiff_t>(t), entry);
            selected.insert(selected.begin() + static_cast<std::ptrdiff_t>(t), flag);
            ++target;
            ++index;
        }
    }
    return list;
}

TEST_F(Editor, MovingSelectedRowsGathersThemAtTheDropInTheirOrder) {
    auto editor = Make("/opt/tf");
    editor->FormShow({"0", "1", "2", "3", "4", "5"}, "/lists/x.lst", 99);
    editor->SelectEntries({2, 4}, 4);
    EXPECT_TRUE(editor->View().removeEnabled);
    editor->ListDragDrop(TEditorList::Play, TEditorList::Play, 0);
    EXPECT_EQ(editor->WorkList(), Rows({"2", "4", "0", "1", "3", "5"}));
    EXPECT_TRUE(editor->Modified());
    EXPECT_FALSE(editor->View().removeEnabled); // nothing stays selected
    EXPECT_EQ(editor->View().playTop, 0);

    // Against the one-at-a-time walk: every selection of 7 rows onto every target.
    const List seven{"a", "b", "c", "d", "e", "f", "g"};
    for (unsigned mask = 1; mask < 128; ++mask) {
        std::vector<bool> selected(7);
        for (int i = 0; i < 7; ++i) {
            selected[static_cast<std::size_t>(i)] = (mask >> i) & 1;
        }
        for (int target = -1; target <= 7; ++target) {
            List moved;
            for (std::uint32_t from : MoveOrder(selected, target)) {
                moved.push_back(seven[from]);
            }
            ASSERT_EQ(moved, MoveStepByStep(seven, selected, target))
                << "mask " << mask << " target " << target;
        }
    }

    // Fewer than two entries, or nothing selected: nothing happens, nothing is modified.
    auto single = Make("/opt/tf");
    single->FormShow({"a", "b"}, "/lists/x.lst", 99);
    single->MoveSelectedEntries(0);
    EXPECT_FALSE(single->Modified());
}

TEST_F(Editor, ButtonsAndRadiosFollowTheList) {
    auto editor = Make("/opt/tf");
    editor->FormShow({}, "noname.lst", 0);
    const TPlaylistEditorView& v = editor->View();
    EXPECT_EQ(v.caption, "Playlist Editor - noname.lst");
    EXPECT_TRUE(editor->Modified());
    EXPECT_TRUE(v.openEnabled);
    EXPECT_FALSE(v.clearEnabled || v.randomizeEnabled || v.saveEnabled || v.removeEnabled);
    EXPECT_TRUE(v.lstEnabled && v.m3uEnabled);

    auto named = Make("/opt/tf");
    named->FormShow({"a.mp3", "b.mp3"}, "/lists/Party.M3U", 1);
    const TPlaylistEditorView& n = named->View();
    EXPECT_EQ(n.flavour, TPlaylistFlavour::M3U);
    EXPECT_EQ(n.caption, "Playlist Editor - /lists/Party.M3U");
    EXPECT_FALSE(named->Modified());
    EXPECT_TRUE(n.playSelected[1]);
    EXPECT_EQ(n.rightPane, "Unknown File");
    EXPECT_FALSE(n.openEnabled);
    EXPECT_TRUE(n.clearEnabled && n.randomizeEnabled && n.saveEnabled && n.removeEnabled);
    // Locked while entries exist: the other flavour cannot be chosen.
    EXPECT_FALSE(n.lstEnabled);
    named->RadioButton1Click();
    EXPECT_EQ(n.flavour, TPlaylistFlavour::M3U);
    named->OpenPlaylist1Click(); // not while the list has entries
    EXPECT_EQ(dialogs.AskedCount(), 0u);

    named->SelectEntries({0}, 0);
    named->RemoveButtonClick();
    EXPECT_EQ(named->WorkList(), Rows({"b.mp3"}));
    EXPECT_TRUE(n.rightPane.empty());
    named->ClearButtonClick();
    EXPECT_TRUE(n.lstEnabled && n.m3uEnabled);
    named->RadioButton1Click();
    EXPECT_EQ(n.flavour, TPlaylistFlavour::LST);
    EXPECT_TRUE(n.openEnabled);
}

TEST_F(Editor, OpenAndAppendReportAFileWithoutEntries) {
    const fs::path empty = root / "empty.m3u";
    test::WriteBytes(empty, "\r\n\r\n\n\r");
    const fs::path list = root / "two.m3u";
    test::WriteBytes(list, "\\a.mp3\r\n\\b.mp3\r\n");

    auto editor = Make("/opt/tf");
    editor->FormShow({}, "noname.lst", 0);
    dialogs.QueueOpen(FileDialogResult{true, {empty.string()}, 2});
    editor->OpenPlaylist1Click();
    ASSERT_EQ(dialogs.MessageBoxes().size(), 1u);
    EXPECT_EQ(dialogs.MessageBoxes()[0].text, "Unable to load Playlist!");
    EXPECT_EQ(dialogs.MessageBoxes()[0].icon, platform::MsgIcon::Error);
    EXPECT_TRUE(editor->WorkList().empty());
    EXPECT_EQ(editor->ListName(), "noname.lst");

    dialogs.QueueOpen(FileDialogResult{true, {list.string()}, 2});
    editor->OpenPlaylist1Click();
    const auto asked = std::get<platform::FileDialogRequest>(dialogs.Asked().back().request);
    EXPECT_EQ(asked.filter, "Playlist Files (*.lst)|*.lst|Playlist Files (*.m3u)|*.m3u");
    EXPECT_TRUE(asked.fileMustExist);
    EXPECT_EQ(editor->WorkList(), Rows({"\\a.mp3", "\\b.mp3"}));
    EXPECT_EQ(editor->ListName(), list.string());
    EXPECT_EQ(editor->View().flavour, TPlaylistFlavour::M3U); // the second filter was chosen
    EXPECT_FALSE(editor->Modified());

    dialogs.QueueOpen(FileDialogResult{true, {empty.string()}, 1});
    editor->AppendPlaylist1Click();
    EXPECT_EQ(dialogs.MessageBoxes().back().text, "Unable to append Playlist!");
    EXPECT_EQ(editor->WorkList().size(), 2u);
    EXPECT_FALSE(editor->Modified());
    const auto append =
        std::get<platform::FileDialogRequest>(dialogs.Asked()[dialogs.AskedCount() - 2].request);
    EXPECT_EQ(append.filter, "Playlist Files (*.m3u)|*.m3u"); // only the checked flavour

    dialogs.QueueOpen(FileDialogResult{true, {list.string()}, 1});
    editor->AppendPlaylist1Click();
    EXPECT_EQ(editor->WorkList().size(), 4u);
    EXPECT_TRUE(editor->Modified());
    EXPECT_EQ(editor->ListName(), list.string());
}

TEST_F(Editor, OkOnAnUnnamedChangedListAsksAndProposesTheFlavoursName) {
    Touch(root / "prog" / "s.mp3");
    auto editor = Make((root / "prog").string());
    editor->FormShow({}, "noname.lst", 0);
    editor->RadioButton2Click();
    editor->DirectoryListBox1Change((root / "prog").string());
    editor->SelectFiles({0}, 0);
    editor->AddButtonClick();

    const std::string target = (root / "saved.m3u").string();
    dialogs.QueueMessageBox(MsgResult::Yes);
    dialogs.QueueSave(FileDialogResult{true, {target}, 1});
    EXPECT_TRUE(editor->FormHide(true));
    const auto asked = dialogs.Asked();
    ASSERT_EQ(asked.size(), 2u);
    const auto& box = std::get<platform::MessageBoxRequest>(asked[0].request);
    EXPECT_EQ(box.text, "Save Changes to the PlayList ?");
    EXPECT_EQ(box.icon, platform::MsgIcon::Question);
    EXPECT_EQ(box.buttons, platform::MsgButtons::YesNo);
    EXPECT_EQ(asked[1].kind, platform::AskedDialog::Kind::Save);
    const auto& save = std::get<platform::FileDialogRequest>(asked[1].request);
    EXPECT_EQ(save.fileName, "noname.m3u");
    EXPECT_EQ(save.filter, "Playlist Files (*.m3u)|*.m3u");
    EXPECT_TRUE(save.overwritePrompt);
    EXPECT_EQ(test::ReadWhole(target), "\\s.mp3\r\n");
    EXPECT_EQ(editor->ListName(), target);

    // A named list is saved to its name without a dialog; No saves nothing; Cancel asks nothing.
    editor->ClearButtonClick();
    dialogs.ClearRecord();
    dialogs.QueueMessageBox(MsgResult::Yes);
    EXPECT_TRUE(editor->FormHide(true));
    EXPECT_EQ(dialogs.AskedCount(), 1u);
    EXPECT_EQ(test::ReadWhole(target), "");
    EXPECT_FALSE(editor->Modified());

    editor->RadioButton1Click();
    editor->ClearButtonClick();
    dialogs.ClearRecord();
    dialogs.QueueMessageBox(MsgResult::No);
    EXPECT_TRUE(editor->FormHide(true));
    EXPECT_EQ(dialogs.AskedCount(), 1u);
    EXPECT_TRUE(editor->Modified());
    dialogs.ClearRecord();
    EXPECT_FALSE(editor->FormHide(false));
    EXPECT_EQ(dialogs.AskedCount(), 0u);

    // An empty name has nowhere to be saved: the save dialog asks for one.
    auto unnamed = Make("/opt/tf");
    unnamed->FormShow({"a"}, "", 0);
    EXPECT_EQ(unnamed->View().caption, "Playlist Editor");
    dialogs.ClearRecord();
    dialogs.QueueMessageBox(MsgResult::Yes);
    unnamed->FormHide(true);
    ASSERT_EQ(dialogs.AskedCount(), 2u);
    EXPECT_EQ(dialogs.Asked()[1].kind, platform::AskedDialog::Kind::Save);
}

TEST_F(Editor, AFailedSaveKeepsTheOldFileTheListItsNameAndModified) {
    const fs::path file = root / "keep.lst";
    const std::string old = "old 1\r\nold 2\r\n";
    test::WriteBytes(file, old);

    // Into a folder that does not exist.
    auto editor = Make("/opt/tf");
    editor->FormShow({"a", "b"}, file.string(), 0);
    editor->SelectEntries({0}, 0);
    editor->RemoveButtonClick();
    dialogs.QueueSave(FileDialogResult{true, {(root / "nowhere" / "x.lst").string()}, 1});
    editor->SavePlaylistAs1Click();
    EXPECT_EQ(dialogs.MessageBoxes().back().text, "Unable to save Playlist!");
    EXPECT_EQ(editor->ListName(), file.string());
    EXPECT_TRUE(editor->Modified());
    EXPECT_EQ(editor->WorkList(), Rows({"b"}));

    // The disk fills up halfway through (a file size limit stands in for it): the old file stays whole.
    pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        platform::ScriptedDialogs quiet;
        platform::ScopedDialogs scoped(quiet);
        TPlaylistEditorWindow w;
        TPlaylistEditor big(w, "/opt/tf");
        big.FormShow(List(1000, std::string(100, 'n')), file.string(), 0);
        big.SelectEntries({0}, 0);
        big.RemoveButtonClick();
        big.FormHide(true); // the question gets its default, Yes: saved to the list's name
        const bool kept = big.Modified() && big.ListName() == file.string() && big.WorkList().size() == 999 &&
                          quiet.MessageBoxes().size() == 2 &&
                          quiet.MessageBoxes()[1].text == "Unable to save Playlist!";
        ::_exit(kept ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the failure changed the editor's state or was not reported";
    EXPECT_EQ(test::ReadWhole(file), old);
}

TEST(EditorDragging, DropPositionAndAutoScroll) {
    // Everything fits (10 rows of 16 in 160 pixels, 5 entries): the row under the point or the end.
    EXPECT_EQ(DropPosition(0, 16, 160, 0, 5), 0);
    EXPECT_EQ(DropPosition(33, 16, 160, 0, 5), 2);
    EXPECT_EQ(DropPosition(150, 16, 160, 0, 5), 5);
    // 30 entries scrolled to row 10: the last visible row is 19; its lower half drops after it.
    EXPECT_EQ(DropPosition(145, 16, 160, 10, 30), 19);
    EXPECT_EQ(DropPosition(155, 16, 160, 10, 30), 20);
    EXPECT_EQ(DropPosition(10, 16, 160, 10, 30), 10);

    // Within the list horizontally only; up while the top row is above 0, down while rows are hidden.
    EXPECT_EQ(AutoScrollTop(50, -5, 10, 0, 100, 160, 3, 30, 10), 2);
    EXPECT_EQ(AutoScrollTop(50, -5, 10, 0, 100, 160, 0, 30, 10), 0);
    EXPECT_EQ(AutoScrollTop(50, 170, 10, 0, 100, 160, 19, 30, 10), 20);
    EXPECT_EQ(AutoScrollTop(50, 170, 10, 0, 100, 160, 20, 30, 10), 20);
    EXPECT_EQ(AutoScrollTop(5, 170, 10, 0, 100, 160, 3, 30, 10), 3);
    EXPECT_EQ(AutoScrollTop(110, -5, 10, 0, 100, 160, 3, 30, 10), 3);
    EXPECT_EQ(AutoScrollTop(50, 80, 10, 0, 100, 160, 3, 30, 10), 3);

    EXPECT_TRUE(TPlaylistEditor::AcceptsDrop(TEditorList::Files, TEditorList::Play, true));
    EXPECT_FALSE(TPlaylistEditor::AcceptsDrop(TEditorList::Files, TEditorList::Play, false));
    EXPECT_FALSE(TPlaylistEditor::AcceptsDrop(TEditorList::None, TEditorList::Play, true));
}

TEST_F(Editor, DragCursorsTimerAndDropsBetweenTheLists) {
    Touch(root / "m" / "a.wav");
    Touch(root / "m" / "b.wav");
    auto editor = Make("/opt/tf");
    editor->FormShow({"x", "y"}, (root / "m" / "l.lst").string(), 99);
    editor->SelectFiles({0, 1}, 1);
    editor->ListDragOver(TEditorList::Files, TEditorList::Play);
    EXPECT_EQ(editor->View().dragCursor, TDragCursor::TrackAdd);
    EXPECT_EQ(editor->View().dragList, TEditorList::Play);
    editor->ListDragLeave();
    EXPECT_TRUE(editor->View().scrollTimerEnabled);
    editor->ListDragOver(TEditorList::Files, TEditorList::Play);
    EXPECT_FALSE(editor->View().scrollTimerEnabled);
    editor->ListDragDrop(TEditorList::Files, TEditorList::Play, 1);
    editor->ListEndDrag();
    EXPECT_EQ(editor->View().dragList, TEditorList::None);
    const std::string a = (root / "m" / "a.wav").string();
    const std::string b = (root / "m" / "b.wav").string();
    EXPECT_EQ(editor->WorkList(), Rows({"x", a.c_str(), b.c_str(), "y"}));

    editor->SelectEntries({0, 3}, 3);
    editor->ListDragOver(TEditorList::Play, TEditorList::Files);
    EXPECT_EQ(editor->View().dragCursor, TDragCursor::TrackDelete);
    editor->ListDragDrop(TEditorList::Play, TEditorList::Files, 0);
    EXPECT_EQ(editor->WorkList(), Rows({a.c_str(), b.c_str()}));
    editor->ListDragOver(TEditorList::Play, TEditorList::Play);
    EXPECT_EQ(editor->View().dragCursor, TDragCursor::TrackDrag);
    editor->ListDragDrop(TEditorList::Files, TEditorList::Files, 0); // nothing
    EXPECT_EQ(editor->WorkList().size(), 2u);
}

} // namespace
} // namespace tunefold
