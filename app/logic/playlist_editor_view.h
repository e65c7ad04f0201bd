// What the playlist editor shows: the places combo over the folder tree, the file list, the play
// list, the buttons, the flavour radios and the two info panes. The controller writes this state
// and tells its window that it changed; the window paints from it and holds no list logic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/folders.h"

namespace tunefold {

enum class TPlaylistFlavour { LST, M3U };
// The two list boxes of the dialog, as drag sources and drop targets.
enum class TEditorList { None, Files, Play };
// The drag cursors: the resource slots 1 (within one list), 2 (files to the play list) and
// 3 (play-list entries back to the files, which removes them).
enum class TDragCursor { None = 0, TrackDrag = 1, TrackAdd = 2, TrackDelete = 3 };

// One row of the folder tree: the folders from the place down to the shown folder ("open"), then
// the shown folder's subfolders one level deeper.
struct TFolderRow {
    std::string caption;
    std::string path;
    int depth = 0;
    bool open = false;    // the shown folder or one of its ancestors
    bool current = false; // the shown folder
};

struct TPlaylistEditorView {
    std::string caption = "Playlist Editor";

    std::vector<platform::Place> places;
    int placeIndex = -1;
    std::string folder; // the folder the file list shows
    std::vector<TFolderRow> folderRows;

    std::vector<std::string> files; // names in the shown folder that pass the mask, sorted
    std::vector<bool> fileSelected;
    int fileCurrent = -1;

    // The play list's rows are the controller's WorkList; these follow it.
    std::vector<bool> playSelected;
    int playCurrent = -1;
    // Where the controller wants the play list scrolled; it asks again each time scrollSerial moves.
    int playTop = 0;
    std::uint32_t scrollSerial = 0;
    // Moves whenever the rows of the play list changed (the window then refills its rows).
    std::uint32_t listSerial = 0;
    // Moves whenever the folder or its files changed.
    std::uint32_t folderSerial = 0;

    bool addEnabled = false;    // "&Add >>"
    bool addAllEnabled = false; // "A&dd All >>"
    bool removeEnabled = false;
    bool clearEnabled = false;
    bool randomizeEnabled = false;
    bool openEnabled = true;
    bool saveEnabled = false;
    bool appendEnabled = true;
    bool fileDragEnabled = false; // the file list may start a drag

    TPlaylistFlavour flavour = TPlaylistFlavour::LST;
    bool lstEnabled = true;
    bool m3uEnabled = true;

    std::string leftPane;  // the file selected in the file list
    std::string rightPane; // the current play-list entry

    TDragCursor dragCursor = TDragCursor::None;
    bool scrollTimerEnabled = false;
    TEditorList dragList = TEditorList::None;
};

class TPlaylistEditorWindow {
public:
    virtual ~TPlaylistEditorWindow() = default;
    virtual void ViewChanged() {}
};

} // namespace tunefold
