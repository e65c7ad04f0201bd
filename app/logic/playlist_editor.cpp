#include "app/logic/playlist_editor.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <numeric>

#include "app/logic/file_info.h"
#include "app/logic/play_entries.h"
#include "app/logic/playlist_file.h"
#include "platform/dialogs.h"
#include "platform/paths.h"

namespace tunefold {

namespace {

constexpr const char* kBaseCaption = "Playlist Editor";
constexpr const char* kNonameLst = "noname.lst";
constexpr const char* kNonameM3u = "noname.m3u";
constexpr const char* kBoxCaption = "Audio Play";

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c); });
    return s;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// Names as a person reads a listing: case aside first, then byte order so the order is total.
bool NameBefore(const std::string& a, const std::string& b) {
    const auto [ia, ib] = std::mismatch(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return Lower(x) == Lower(y); });
    if (ia != a.end() && ib != b.end()) {
        return static_cast<unsigned char>(Lower(*ia)) < static_cast<unsigned char>(Lower(*ib));
    }
    if (ia != a.end() || ib != b.end()) {
        return ia == a.end();
    }
    return a < b;
}

// "/a/b/" and "/a/b" are one folder; "/" stays "/".
std::string WithoutTrailingSlash(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return {};
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string FilePart(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

template <typename T>
void Reorder(std::vector<T>& items, const std::vector<std::uint32_t>& order) {
    std::vector<T> result;
    result.reserve(items.size());
    for (const std::uint32_t from : order) {
        result.push_back(std::move(items[from]));
    }
    items = std::move(result);
}

} // namespace

const char* const TPlaylistEditor::kOpenFilter = "Playlist Files (*.lst)|*.lst|Playlist Files (*.m3u)|*.m3u";
const char* const TPlaylistEditor::kLstFilter = "Playlist Files (*.lst)|*.lst";
const char* const TPlaylistEditor::kM3uFilter = "Playlist Files (*.m3u)|*.m3u";

std::uint32_t UtcMillisecondsOfDay() {
    using namespace std::chrono;
    const auto now = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    constexpr std::int64_t kDay = 24LL * 60 * 60 * 1000;
    return static_cast<std::uint32_t>(((now % kDay) + kDay) % kDay);
}

std::uint32_t ShuffleSeed(int hour, int minute, int second, int millisecond) {
    return static_cast<std::uint32_t>(((hour * 60 + minute) * 60 + second) * 1000 + millisecond);
}

std::vector<std::uint32_t> ShuffleOrder(std::size_t count, std::uint32_t seed) {
    std::vector<std::uint32_t> order(count);
    std::iota(order.begin(), order.end(), 0u);
    TShuffleRandom random(seed);
    const auto n = static_cast<std::uint32_t>(count);
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t j = random.Next(n);
        // Moving entry i to position j: the entries between shift by one towards i.
        if (j > i) {
            std::rotate(order.begin() + i, order.begin() + i + 1, order.begin() + j + 1);
        } else if (j < i) {
            std::rotate(order.begin() + j, order.begin() + i, order.begin() + i + 1);
        }
    }
    return order;
}

std::vector<std::uint32_t> MoveOrder(const std::vector<bool>& selected, int target) {
    const auto n = static_cast<std::uint32_t>(selected.size());
    const std::uint32_t t = std::min<std::uint32_t>(static_cast<std::uint32_t>(std::max(target, 0)), n);
    std::vector<std::uint32_t> order;
    order.reserve(n);
    for (std::uint32_t i = 0; i < t; ++i) {
        if (!selected[i]) {
            order.push_back(i);
        }
    }
    for (std::uint32_t i = 0; i < n; ++i) {
        if (selected[i]) {
            order.push_back(i);
        }
    }
    for (std::uint32_t i = t; i < n; ++i) {
        if (!selected[i]) {
            order.push_back(i);
        }
    }
    return order;
}

bool PassesAudioMask(const std::string& name) {
    static const std::array<std::string, 6> kExtensions = {".wav", ".mp2", ".mp3", ".l2", ".l3", ".atx"};
    for (const std::string& ext : kExtensions) {
        if (name.size() >= ext.size() &&
            std::equal(ext.begin(), ext.end(), name.end() - static_cast<std::ptrdiff_t>(ext.size()),
                       [](char e, char c) { return e == Lower(c); })) {
            return true;
        }
    }
    return false;
}

bool IsInFolder(const std::string& path, const std::string& folder) {
    const std::string f = WithoutTrailingSlash(folder);
    const std::string p = WithoutTrailingSlash(path);
    if (f.empty() || p.empty()) {
        return false;
    }
    if (f == "/") {
        return p[0] == '/';
    }
    return p.size() >= f.size() && p.compare(0, f.size(), f) == 0 &&
           (p.size() == f.size() || p[f.size()] == '/');
}

int DropPosition(int y, int rowHeight, int boxHeight, int topRow, int count) {
    if (rowHeight <= 0) {
        return count;
    }
    const int visible = boxHeight / rowHeight;
    int row = y < 0 ? topRow : topRow + y / rowHeight;
    if (row >= count) {
        row = count;
    }
    if (visible - 1 >= count) {
        return row;
    }
    // The rows do not all fit: the last visible row's lower half inserts after it.
    if (row == topRow + visible - 1 && y > boxHeight - rowHeight / 2) {
        return row + 1;
    }
    return row;
}

int AutoScrollTop(int mouseX, int mouseY, int listLeft, int listTop, int listWidth, int listHeight,
                  int topRow, int count, int visibleRows) {
    if (mouseX < listLeft || mouseX >= listLeft + listWidth) {
        return topRow;
    }
    if (mouseY < listTop && topRow > 0) {
        return topRow - 1;
    }
    if (mouseY >= listTop + listHeight && topRow < count - visibleRows) {
        return topRow + 1;
    }
    return topRow;
}

// ------------------------------------------------------------------ the controller

TPlaylistEditor::TPlaylistEditor(TPlaylistEditorWindow& window, std::string programFolder,
                                 TTimeOfDayClock clock)
    : window_(window), programFolder_(WithoutTrailingSlash(std::move(programFolder))),
      clock_(std::move(clock)) {
    if (!clock_) {
        clock_ = UtcMillisecondsOfDay;
    }
    view_.caption = kBaseCaption;
    SetListName(kNonameLst);
    view_.flavour = TPlaylistFlavour::LST;
    view_.places = platform::Folders().Places();
}

void TPlaylistEditor::SetListName(const std::string& name) {
    listName_ = name;
    view_.caption = name.empty() ? std::string(kBaseCaption) : std::string(kBaseCaption) + " - " + name;
}

void TPlaylistEditor::FormShow(const std::vector<std::string>& fileList, const std::string& listFileName,
                               std::size_t listIndex) {
    workList_ = fileList;
    playerListFileName_ = listFileName;
    SetListName(listFileName);
    const std::string upper = Upper(listFileName);
    if (upper.find(".LST") != std::string::npos) {
        view_.flavour = TPlaylistFlavour::LST;
    }
    if (upper.find(".M3U") != std::string::npos) {
        view_.flavour = TPlaylistFlavour::M3U;
    }
    FillPlayListBox();
    modified_ = listName_.empty() || listName_ == kNonameM3u || listName_ == kNonameLst;

    // The file list starts in the list's folder when it has one, else at the first place.
    std::string folder = FolderOf(listFileName);
    if (folder.empty() || folder[0] != '/' || !platform::Folders().List(folder).readable) {
        folder = view_.places.empty() ? std::string("/") : view_.places.front().path;
    }
    view_.folder = WithoutTrailingSlash(folder);
    ReadFolder();

    if (listIndex < workList_.size()) {
        view_.playSelected[listIndex] = true;
        view_.playCurrent = static_cast<int>(listIndex);
        if (static_cast<int>(listIndex) >= visibleRows_) {
            ScrollPlayList(static_cast<int>(listIndex) - visibleRows_ + 1);
        }
        SetFileInfo();
    }
    UpdateControls();
}

bool TPlaylistEditor::FormHide(bool ok) {
    if (!ok) {
        return false;
    }
    if (modified_) {
        platform::MessageBoxRequest box;
        box.caption = kBoxCaption;
        box.text = "Save Changes to the PlayList ?";
        box.icon = platform::MsgIcon::Question;
        box.buttons = platform::MsgButtons::YesNo;
        if (platform::Dialogs().MessageBox(box) == platform::MsgResult::Yes) {
            // An empty name has nowhere to go: it asks for one, as an unnamed list does.
            if (listName_.empty() || listName_ == kNonameM3u || listName_ == kNonameLst) {
                SavePlaylistAs1Click();
            } else {
                SavePlaylist1Click();
            }
        }
    }
    return true;
}

void TPlaylistEditor::UpdateControls() {
    const bool anyFile =
        std::find(view_.fileSelected.begin(), view_.fileSelected.end(), true) != view_.fileSelected.end();
    const bool anyEntry =
        std::find(view_.playSelected.begin(), view_.playSelected.end(), true) != view_.playSelected.end();
    const bool empty = workList_.empty();
    view_.addEnabled = anyFile && AddAllowed();
    view_.addAllEnabled = view_.addEnabled;
    view_.removeEnabled = anyEntry;
    view_.clearEnabled = !empty;
    view_.randomizeEnabled = !empty;
    view_.saveEnabled = !empty;
    view_.openEnabled = empty;
    view_.lstEnabled = empty || view_.flavour == TPlaylistFlavour::LST;
    view_.m3uEnabled = empty || view_.flavour == TPlaylistFlavour::M3U;
    view_.fileDragEnabled = view_.addEnabled;
    if (view_.flavour == TPlaylistFlavour::LST && listName_ == kNonameM3u) {
        SetListName(kNonameLst);
    }
    if (view_.flavour == TPlaylistFlavour::M3U && listName_ == kNonameLst) {
        SetListName(kNonameM3u);
    }
    Changed();
}

bool TPlaylistEditor::AddAllowed() const {
    return view_.flavour != TPlaylistFlavour::M3U || IsInFolder(view_.folder, programFolder_);
}

// ---- folders

void TPlaylistEditor::PlaceChange(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= view_.places.size()) {
        return;
    }
    DirectoryListBox1Change(view_.places[static_cast<std::size_t>(index)].path);
}

void TPlaylistEditor::DirectoryListBox1Change(const std::string& folder) {
    if (folder.empty() || folder[0] != '/') {
        return;
    }
    view_.folder = WithoutTrailingSlash(folder);
    ReadFolder();
    UpdateControls();
}

void TPlaylistEditor::ReadFolder() {
    const platform::FolderContents contents = platform::Folders().List(view_.folder);
    view_.files.clear();
    for (const std::string& name : contents.files) {
        if (PassesAudioMask(name)) {
            view_.files.push_back(name);
        }
    }
    std::sort(view_.files.begin(), view_.files.end(), NameBefore);
    view_.fileSelected.assign(view_.files.size(), false);
    view_.fileCurrent = -1;
    view_.leftPane.clear();

    // The place the folder lies in: the deepest one that holds it ("/" holds every folder).
    view_.placeIndex = -1;
    std::size_t best = 0;
    for (std::size_t i = 0; i < view_.places.size(); ++i) {
        const std::string path = WithoutTrailingSlash(view_.places[i].path);
        if (IsInFolder(view_.folder, path) && (view_.placeIndex < 0 || path.size() > best)) {
            view_.placeIndex = static_cast<int>(i);
            best = path.size();
        }
    }
    std::vector<std::string> folders = contents.folders;
    std::sort(folders.begin(), folders.end(), NameBefore);

    view_.folderRows.clear();
    const std::string root =
        view_.placeIndex >= 0
            ? WithoutTrailingSlash(view_.places[static_cast<std::size_t>(view_.placeIndex)].path)
            : std::string("/");
    view_.folderRows.push_back({root, root, 0, true, view_.folder == root});
    std::string path = root;
    int depth = 0;
    std::size_t at = root.size();
    while (at < view_.folder.size()) {
        if (view_.folder[at] == '/') {
            ++at;
        }
        const std::size_t next = view_.folder.find('/', at);
        const std::string name =
            view_.folder.substr(at, next == std::string::npos ? std::string::npos : next - at);
        at = next == std::string::npos ? view_.folder.size() : next;
        if (name.empty()) {
            continue;
        }
        path = platform::JoinPath(path, name);
        view_.folderRows.push_back({name, path, ++depth, true, path == view_.folder});
    }
    for (const std::string& name : folders) {
        view_.folderRows.push_back({name, platform::JoinPath(view_.folder, name), depth + 1, false, false});
    }
    ++view_.folderSerial;
}

// ---- selections

void TPlaylistEditor::SelectFiles(const std::vector<std::size_t>& rows, int current) {
    view_.fileSelected.assign(view_.files.size(), false);
    for (const std::size_t row : rows) {
        if (row < view_.fileSelected.size()) {
            view_.fileSelected[row] = true;
        }
    }
    view_.fileCurrent = current >= 0 && static_cast<std::size_t>(current) < view_.files.size() ? current : -1;
    UpdateControls();
}

void TPlaylistEditor::SelectEntries(const std::vector<std::size_t>& rows, int current) {
    view_.playSelected.assign(workList_.size(), false);
    for (const std::size_t row : rows) {
        if (row < view_.playSelected.size()) {
            view_.playSelected[row] = true;
        }
    }
    view_.playCurrent = current >= 0 && static_cast<std::size_t>(current) < workList_.size() ? current : -1;
    UpdateControls();
}

void TPlaylistEditor::FillPlayListBox() {
    view_.playSelected.assign(workList_.size(), false);
    if (view_.playCurrent >= static_cast<int>(workList_.size())) {
        view_.playCurrent = workList_.empty() ? -1 : 0;
    }
    ++view_.listSerial;
}

void TPlaylistEditor::ScrollPlayList(int top) {
    const int last = std::max(0, static_cast<int>(workList_.size()) - visibleRows_);
    view_.playTop = std::clamp(top, 0, last);
    ++view_.scrollSerial;
}

// ---- adding, removing, moving

std::string TPlaylistEditor::EntryFor(const std::string& fileName) const {
    const std::string path = platform::JoinPath(view_.folder, fileName);
    if (view_.flavour == TPlaylistFlavour::LST) {
        return path;
    }
    // "\" and the part below the program's folder; the player drops the "\" and looks the rest up
    // in the program's folder.
    const std::string below = programFolder_ == "/" ? path.substr(1) : path.substr(programFolder_.size() + 1);
    return "\\" + below;
}

void TPlaylistEditor::AddFiles(const std::vector<std::size_t>& rows, int position) {
    if (!AddAllowed() || rows.empty()) {
        return;
    }
    const auto count = static_cast<int>(workList_.size());
    if (position < 0 || position > count) {
        position = count;
    }
    std::vector<std::string> entries;
    entries.reserve(rows.size());
    for (const std::size_t row : rows) {
        if (row < view_.files.size()) {
            entries.push_back(EntryFor(view_.files[row]));
        }
    }
    workList_.insert(workList_.begin() + position, entries.begin(), entries.end());
    position += static_cast<int>(entries.size());
    modified_ = true;
    FillPlayListBox();
    if (position >= visibleRows_) {
        ScrollPlayList(position - visibleRows_ + 1);
    }
}

void TPlaylistEditor::AddSelectedFiles(int position) {
    std::vector<std::size_t> rows;
    for (std::size_t i = 0; i < view_.fileSelected.size(); ++i) {
        if (view_.fileSelected[i]) {
            rows.push_back(i);
        }
    }
    AddFiles(rows, position);
}

void TPlaylistEditor::AddButtonClick() {
    if (view_.addEnabled) {
        AddSelectedFiles(-1);
    }
    UpdateControls();
}

void TPlaylistEditor::Button1Click() {
    if (view_.addAllEnabled) {
        std::vector<std::size_t> rows(view_.files.size());
        std::iota(rows.begin(), rows.end(), std::size_t{0});
        AddFiles(rows, -1);
    }
    UpdateControls();
}

void TPlaylistEditor::FileListDoubleClick() {
    AddButtonClick();
}

void TPlaylistEditor::RemoveSelectedEntries() {
    std::vector<std::string> kept;
    kept.reserve(workList_.size());
    for (std::size_t i = 0; i < workList_.size(); ++i) {
        if (i < view_.playSelected.size() && view_.playSelected[i]) {
            modified_ = true;
        } else {
            kept.push_back(std::move(workList_[i]));
        }
    }
    workList_ = std::move(kept);
    view_.playCurrent = workList_.empty() ? -1 : 0;
    FillPlayListBox();
    if (!workList_.empty()) {
        ScrollPlayList(0);
    }
}

void TPlaylistEditor::RemoveButtonClick() {
    RemoveSelectedEntries();
    view_.rightPane.clear();
    UpdateControls();
}

void TPlaylistEditor::PlayListDoubleClick() {
    RemoveButtonClick();
}

void TPlaylistEditor::ClearButtonClick() {
    workList_.clear();
    view_.playCurrent = -1;
    FillPlayListBox();
    modified_ = true;
    view_.rightPane.clear();
    UpdateControls();
}

void TPlaylistEditor::RandomizeButtonClick() {
    if (workList_.empty()) {
        return;
    }
    Reorder(workList_, ShuffleOrder(workList_.size(), clock_()));
    modified_ = true;
    view_.rightPane.clear();
    FillPlayListBox();
    UpdateControls();
}

void TPlaylistEditor::MoveSelectedEntries(int target) {
    if (workList_.size() < 2) {
        return;
    }
    view_.playSelected.resize(workList_.size(), false);
    if (std::find(view_.playSelected.begin(), view_.playSelected.end(), true) == view_.playSelected.end()) {
        return;
    }
    Reorder(workList_, MoveOrder(view_.playSelected, target));
    modified_ = true;
    view_.playCurrent = 0;
    FillPlayListBox();
    ScrollPlayList(0);
}

// ---- flavours

void TPlaylistEditor::RadioButton1Click() {
    if (view_.lstEnabled) {
        view_.flavour = TPlaylistFlavour::LST;
    }
    UpdateControls();
}

void TPlaylistEditor::RadioButton2Click() {
    if (view_.m3uEnabled) {
        view_.flavour = TPlaylistFlavour::M3U;
    }
    UpdateControls();
}

// ---- info lines

std::string TPlaylistEditor::EntryInfoLine(const std::string& entry) const {
    return DescribeFile(ResolvePlaylistEntry(entry, playerListFileName_, programFolder_)).infoLine;
}

void TPlaylistEditor::SetFileInfo() {
    if (workList_.empty() || view_.playCurrent < 0 ||
        static_cast<std::size_t>(view_.playCurrent) >= workList_.size()) {
        return;
    }
    view_.rightPane = EntryInfoLine(workList_[static_cast<std::size_t>(view_.playCurrent)]);
}

void TPlaylistEditor::ShowFileListInfo() {
    if (view_.fileCurrent < 0 || static_cast<std::size_t>(view_.fileCurrent) >= view_.files.size()) {
        return;
    }
    view_.leftPane = DescribeFile(platform::JoinPath(
                                      view_.folder, view_.files[static_cast<std::size_t>(view_.fileCurrent)]))
                         .infoLine;
}

void TPlaylistEditor::ListMouseUp(TEditorList list) {
    if (list == TEditorList::Play) {
        SetFileInfo();
    } else if (list == TEditorList::Files) {
        ShowFileListInfo();
    }
    UpdateControls();
}

void TPlaylistEditor::ListKeyUp() {
    SetFileInfo();
    UpdateControls();
}

// ---- dragging

bool TPlaylistEditor::AcceptsDrop(TEditorList source, TEditorList target, bool insideClient) {
    return insideClient && source != TEditorList::None && target != TEditorList::None;
}

void TPlaylistEditor::ListDragOver(TEditorList source, TEditorList target) {
    if (source == target) {
        view_.dragCursor = TDragCursor::TrackDrag;
    } else if (source == TEditorList::Files && target == TEditorList::Play) {
        view_.dragCursor = TDragCursor::TrackAdd;
    } else if (source == TEditorList::Play && target == TEditorList::Files) {
        view_.dragCursor = TDragCursor::TrackDelete;
    }
    view_.scrollTimerEnabled = false;
    view_.dragList = target;
    Changed();
}

void TPlaylistEditor::ListDragLeave() {
    view_.scrollTimerEnabled = view_.dragList != TEditorList::None;
    Changed();
}

void TPlaylistEditor::ListDragDrop(TEditorList source, TEditorList target, int position) {
    if (target == TEditorList::Play && source == TEditorList::Files) {
        AddSelectedFiles(position);
    } else if (target == TEditorList::Play && source == TEditorList::Play) {
        MoveSelectedEntries(position);
    } else if (target == TEditorList::Files && source == TEditorList::Play) {
        RemoveSelectedEntries();
        view_.rightPane.clear();
    }
    UpdateControls();
}

void TPlaylistEditor::ListEndDrag() {
    view_.scrollTimerEnabled = false;
    view_.dragList = TEditorList::None;
    view_.dragCursor = TDragCursor::None;
    Changed();
}

// ---- files

void TPlaylistEditor::Message(const std::string& text) {
    platform::MessageBoxRequest box;
    box.caption = kBoxCaption;
    box.text = text;
    box.icon = platform::MsgIcon::Error;
    box.buttons = platform::MsgButtons::Ok;
    platform::Dialogs().MessageBox(box);
}

void TPlaylistEditor::OpenPlaylist1Click() {
    if (!workList_.empty()) {
        UpdateControls();
        return;
    }
    platform::FileDialogRequest request;
    request.title = "Open Playlist";
    request.initialDir = view_.folder;
    request.filter = kOpenFilter;
    request.filterIndex = view_.flavour == TPlaylistFlavour::M3U ? 2 : 1;
    request.fileMustExist = true;
    const platform::FileDialogResult chosen = platform::Dialogs().OpenFile(request);
    if (!chosen.accepted || chosen.FileName().empty()) {
        UpdateControls();
        return;
    }
    workList_.clear();
    view_.playCurrent = -1;
    FillPlayListBox();
    // A read error of the system goes on to the application's handler; the list is empty then.
    if (ReadPlaylist(chosen.FileName(), workList_)) {
        FillPlayListBox();
        modified_ = false;
        SetListName(chosen.FileName());
        view_.flavour = chosen.filterIndex == 2 ? TPlaylistFlavour::M3U : TPlaylistFlavour::LST;
    } else {
        Message("Unable to load Playlist!");
    }
    UpdateControls();
}

void TPlaylistEditor::AppendPlaylist1Click() {
    platform::FileDialogRequest request;
    request.title = "Append Playlist";
    request.initialDir = view_.folder;
    request.filter = view_.flavour == TPlaylistFlavour::M3U ? kM3uFilter : kLstFilter;
    request.fileMustExist = true;
    const platform::FileDialogResult chosen = platform::Dialogs().OpenFile(request);
    if (!chosen.accepted || chosen.FileName().empty()) {
        UpdateControls();
        return;
    }
    if (ReadPlaylist(chosen.FileName(), workList_)) {
        FillPlayListBox();
        modified_ = true;
    } else {
        Message("Unable to append Playlist!");
    }
    UpdateControls();
}

void TPlaylistEditor::SavePlaylistAs1Click() {
    platform::FileDialogRequest request;
    request.title = "Save Playlist As";
    const std::string folder = FolderOf(listName_);
    request.initialDir = folder.empty() ? view_.folder : folder;
    request.fileName = FilePart(listName_);
    request.filter = view_.flavour == TPlaylistFlavour::M3U ? kM3uFilter : kLstFilter;
    request.overwritePrompt = true;
    const platform::FileDialogResult chosen = platform::Dialogs().SaveFile(request);
    // An empty name would "save" nothing and still clear Modified: it counts as no choice.
    if (chosen.accepted && !chosen.FileName().empty()) {
        if (WritePlaylist(chosen.FileName(), workList_)) {
            modified_ = false;
            SetListName(chosen.FileName());
        } else {
            Message("Unable to save Playlist!");
        }
    }
    UpdateControls();
}

void TPlaylistEditor::SavePlaylist1Click() {
    if (WritePlaylist(listName_, workList_)) {
        modified_ = false;
    } else {
        Message("Unable to save Playlist!");
    }
}

} // namespace tunefold
