// The playlist editor with a large list: a 10,000-entry playlist opened in the editor (read and
// shown by the controller, and the real dialog filled and painted offscreen), a shuffle of it, and a
// drag of 1,000 selected rows within it. The editor should open such a list in well under half a
// second and shuffle or move it in well under a tenth.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/logic/playlist_editor.h"
#include "app/logic/playlist_file.h"
#include "platform/dialogs.h"
#include "platform/virtual/scripted_dialogs.h"
#include "platform/virtual/virtual_folders.h"

#ifdef TUNEFOLD_BENCH_QT
#include <QApplication>
#include <QListView>

#include "app/windows/playlist_editor_window.h"
#endif

namespace tunefold {
namespace {

constexpr std::size_t kEntries = 10000;

std::vector<std::string> BigList() {
    std::vector<std::string> list;
    list.reserve(kEntries);
    for (std::size_t i = 0; i < kEntries; ++i) {
        list.push_back("/home/user/Music/Artist " + std::to_string(i / 120) + "/Album " +
                       std::to_string(i / 12) + "/Track " + std::to_string(i % 12 + 1) +
                       " - A Song With A Title Of Some Length.mp3");
    }
    return list;
}

const std::string& ListFile() {
    static const std::string file = [] {
        const std::filesystem::path folder = std::filesystem::temp_directory_path() / "tunefold-editor-bench";
        std::filesystem::create_directories(folder);
        const std::string name = (folder / "big.lst").string();
        WritePlaylist(name, BigList());
        return name;
    }();
    return file;
}

// The scripted dialogs answer every question, and the places are fixed: nothing waits on a user.
struct Quiet {
    platform::ScriptedDialogs dialogs;
    platform::ScopedDialogs scopedDialogs{dialogs};
    platform::VirtualFolders folders{{{"/ (File System)", "/"}}};
    platform::ScopedFolders scopedFolders{folders};
};

// The player reads the list, the editor is made and shown with it.
void BM_OpenInController(benchmark::State& state) {
    Quiet quiet;
    for (auto _ : state) {
        std::vector<std::string> list;
        ReadPlaylist(ListFile(), list);
        TPlaylistEditorWindow window;
        TPlaylistEditor editor(window, "/opt/tf");
        editor.FormShow(list, ListFile(), 0);
        benchmark::DoNotOptimize(editor.WorkList().data());
    }
    state.counters["entries"] = static_cast<double>(kEntries);
}
BENCHMARK(BM_OpenInController)->Unit(benchmark::kMillisecond);

// "&Open List" in an empty editor.
void BM_OpenListButton(benchmark::State& state) {
    Quiet quiet;
    for (auto _ : state) {
        TPlaylistEditorWindow window;
        TPlaylistEditor editor(window, "/opt/tf");
        editor.FormShow({}, "noname.lst", 0);
        quiet.dialogs.QueueOpen(platform::FileDialogResult{true, {ListFile()}, 1});
        editor.OpenPlaylist1Click();
        if (editor.WorkList().size() != kEntries) {
            state.SkipWithError("the list did not open");
        }
    }
}
BENCHMARK(BM_OpenListButton)->Unit(benchmark::kMillisecond);

void BM_Shuffle(benchmark::State& state) {
    Quiet quiet;
    TPlaylistEditorWindow window;
    std::uint32_t clock = 49510250u;
    TPlaylistEditor editor(window, "/opt/tf", [&clock] { return clock++; });
    editor.FormShow(BigList(), "/tmp/big.lst", 0);
    for (auto _ : state) {
        editor.RandomizeButtonClick();
    }
    state.counters["entries"] = static_cast<double>(kEntries);
}
BENCHMARK(BM_Shuffle)->Unit(benchmark::kMillisecond);

// Every tenth row selected (1,000 of 10,000) and dropped onto the middle of the list.
std::vector<std::size_t> EveryTenth() {
    std::vector<std::size_t> rows;
    for (std::size_t i = 3; i < kEntries; i += 10) {
        rows.push_back(i);
    }
    return rows;
}

void BM_DragThousandRows(benchmark::State& state) {
    Quiet quiet;
    TPlaylistEditorWindow window;
    TPlaylistEditor editor(window, "/opt/tf");
    editor.FormShow(BigList(), "/tmp/big.lst", 0);
    const std::vector<std::size_t> rows = EveryTenth();
    for (auto _ : state) {
        editor.SelectEntries(rows, static_cast<int>(rows.back()));
        editor.ListDragDrop(TEditorList::Play, TEditorList::Play, static_cast<int>(kEntries / 2));
    }
    state.counters["selected"] = static_cast<double>(rows.size());
}
BENCHMARK(BM_DragThousandRows)->Unit(benchmark::kMillisecond);

#ifdef TUNEFOLD_BENCH_QT
// The real dialog: made, started with the list, shown and painted.
void BM_OpenInDialog(benchmark::State& state) {
    Quiet quiet;
    std::vector<std::string> list;
    ReadPlaylist(ListFile(), list);
    for (auto _ : state) {
        windows::PlaylistEditorWindow dialog("/opt/tf");
        dialog.Start(list, ListFile(), kEntries - 1);
        dialog.show();
        QApplication::processEvents();
        dialog.repaint();
        benchmark::DoNotOptimize(dialog.PlayListBox->model()->rowCount());
    }
}
BENCHMARK(BM_OpenInDialog)->Unit(benchmark::kMillisecond);

// A drag of 1,000 rows in the dialog: the selection reaches the controller, the drop moves them and
// the dialog shows the new order.
void BM_DragThousandRowsInDialog(benchmark::State& state) {
    Quiet quiet;
    windows::PlaylistEditorWindow dialog("/opt/tf");
    dialog.Start(BigList(), "/tmp/big.lst", 0);
    dialog.show();
    QApplication::processEvents();
    const std::vector<std::size_t> rows = EveryTenth();
    for (auto _ : state) {
        dialog.Controller().SelectEntries(rows, static_cast<int>(rows.back()));
        dialog.Controller().ListDragDrop(TEditorList::Play, TEditorList::Play,
                                         static_cast<int>(kEntries / 2));
        dialog.repaint();
    }
}
BENCHMARK(BM_DragThousandRowsInDialog)->Unit(benchmark::kMillisecond);
#endif

} // namespace
} // namespace tunefold

int main(int argc, char** argv) {
#ifdef TUNEFOLD_BENCH_QT
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(std::filesystem::temp_directory_path() / "tunefold-editor-bench");
    return 0;
}
