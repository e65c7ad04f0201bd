// The playlist editor's controller: builds the player's list from the files of a folder, reorders
// it by dragging, shuffles it, and opens, appends and saves playlist files through the dialog
// service. It starts from the player's list and, when closed with OK, hands its list back.
//
// The two flavours differ in the entries added files get: "LST" writes the full path, "M3U" writes
// "\" and the path below the program's folder (so only files in or below that folder can be added).
// The flavour is locked while the list has entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/logic/playlist_editor_view.h"

namespace tunefold {

// Milliseconds since midnight, UTC: the shuffle's seed.
using TTimeOfDayClock = std::function<std::uint32_t()>;
std::uint32_t UtcMillisecondsOfDay();

// The shuffle's generator: a linear congruential sequence whose draws are scaled by the high half
// of a 64-bit product.
class TShuffleRandom {
public:
    explicit TShuffleRandom(std::uint32_t seed) : seed_(seed) {}
    // A number in 0 .. range - 1 (0 when range is 0).
    std::uint32_t Next(std::uint32_t range) {
        seed_ = seed_ * 134775813u + 1u;
        return static_cast<std::uint32_t>((static_cast<std::uint64_t>(seed_) * range) >> 32);
    }

private:
    std::uint32_t seed_;
};

// The seed of a time of day: ((hour × 60 + minute) × 60 + second) × 1000 + millisecond, which is the
// milliseconds since midnight.
std::uint32_t ShuffleSeed(int hour, int minute, int second, int millisecond);

// The n single moves of the shuffle as a permutation: result[k] is the old index of the entry that
// ends at k.
std::vector<std::uint32_t> ShuffleOrder(std::size_t count, std::uint32_t seed);

// The order after moving the selected rows to `target` (-1 counts as 0): the entries that are not
// selected and stand before the target, then the selected ones in their order, then the rest.
// result[k] is the old index of the entry that ends at k.
std::vector<std::uint32_t> MoveOrder(const std::vector<bool>& selected, int target);

// True when the file name passes the file list's mask (*.wav;*.mp2;*.mp3;*.l2;*.l3;*.atx), whatever
// the case of its extension.
bool PassesAudioMask(const std::string& name);

// True when `path` is `folder` or lies below it, compared by whole path components: "/opt/tf" holds
// "/opt/tf/x" but not "/opt/tfx" or "/home/u/opt/tf".
bool IsInFolder(const std::string& path, const std::string& folder);

// The play-list row a drop at height `y` (within the box) lands on: the row under the point, or the
// row count below the last row; when the rows do not all fit and the point is on the last visible
// row's lower half within the box, the row after it.
int DropPosition(int y, int rowHeight, int boxHeight, int topRow, int count);

// The top row after one tick of the drag's auto-scroll: `mouseX`/`mouseY` and the list's rectangle
// in the dialog's coordinates. Nothing unless the mouse is within the list horizontally; above it
// the list scrolls up a row, below it down a row.
int AutoScrollTop(int mouseX, int mouseY, int listLeft, int listTop, int listWidth, int listHeight,
                  int topRow, int count, int visibleRows);

class TPlaylistEditor {
public:
    static constexpr int kRowHeight = 16;
    static constexpr int kScrollMs = 50;
    static const char* const kOpenFilter;
    static const char* const kLstFilter;
    static const char* const kM3uFilter;

    // `programFolder` is where "M3U" entries are written below. Creation (FormCreate).
    TPlaylistEditor(TPlaylistEditorWindow& window, std::string programFolder, TTimeOfDayClock clock = {});

    const TPlaylistEditorView& View() const { return view_; }
    const std::vector<std::string>& WorkList() const { return workList_; }
    const std::string& ListName() const { return listName_; }
    bool Modified() const { return modified_; }

    // ---- the exchange with the player ----
    void FormShow(const std::vector<std::string>& fileList, const std::string& listFileName,
                  std::size_t listIndex);
    // The dialog closes, with OK or not. With OK and changes, asks whether to save them. True when the
    // player takes WorkList and ListName.
    bool FormHide(bool ok);

    void SetListName(const std::string& name);
    void UpdateControls();

    // ---- folders ----
    void PlaceChange(int index);
    void DirectoryListBox1Change(const std::string& folder);

    // ---- what the user selects (reported by the window) ----
    void SelectFiles(const std::vector<std::size_t>& rows, int current);
    void SelectEntries(const std::vector<std::size_t>& rows, int current);
    void SetPlayListRows(int visibleRows) { visibleRows_ = visibleRows > 0 ? visibleRows : 1; }

    // ---- buttons ----
    void AddButtonClick();
    void Button1Click(); // "A&dd All >>"
    void RemoveButtonClick();
    void ClearButtonClick();
    void RandomizeButtonClick();
    void OpenPlaylist1Click();
    void SavePlaylistAs1Click();
    void AppendPlaylist1Click();
    void SavePlaylist1Click();
    void RadioButton1Click(); // "LST"
    void RadioButton2Click(); // "M3U"
    void FileListDoubleClick();
    void PlayListDoubleClick();

    // ---- mouse and keys ----
    void FileListBoxMouseDown() { UpdateControls(); }
    void ListMouseUp(TEditorList list);
    void ListKeyUp();

    // ---- dragging ----
    static bool AcceptsDrop(TEditorList source, TEditorList target, bool insideClient);
    void ListDragOver(TEditorList source, TEditorList target);
    void ListDragLeave();
    void ListDragDrop(TEditorList source, TEditorList target, int position);
    void ListEndDrag();

    // ---- the operations ----
    void AddSelectedFiles(int position);
    void MoveSelectedEntries(int target);
    void RemoveSelectedEntries();
    void SetFileInfo();
    void ShowFileListInfo();
    // The info line of a play-list entry or of a file.
    std::string EntryInfoLine(const std::string& entry) const;

private:
    void Changed() { window_.ViewChanged(); }
    void FillPlayListBox();
    void ScrollPlayList(int top);
    void ReadFolder();
    void BuildFolderRows();
    std::string EntryFor(const std::string& fileName) const;
    void AddFiles(const std::vector<std::size_t>& rows, int position);
    bool AddAllowed() const;
    // A message box with the error icon and OK.
    void Message(const std::string& text);

    TPlaylistEditorWindow& window_;
    std::string programFolder_;
    TTimeOfDayClock clock_;
    TPlaylistEditorView view_;
    std::vector<std::string> workList_;
    std::string listName_;
    std::string playerListFileName_;
    bool modified_ = false;
    int visibleRows_ = 1;
};

} // namespace tunefold
