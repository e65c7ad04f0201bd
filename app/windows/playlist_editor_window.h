// The playlist editor's dialog: a places combo over the folder tree, the file list, the play list
// and the buttons, wired to the editor's controller. It paints the controller's view, reports what
// the user selects, and runs the drags between and within the two lists (with the auto-scroll while
// a drag is outside the list it last entered). Closing with OK or Cancel goes through the
// controller, which may ask to save the changes first.
#pragma once

#include <QDialog>
#include <QImage>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/logic/playlist_editor.h"

#include <QListView>

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace tunefold::windows {

class PlaylistEditorWindow;
class RowsModel;

// The file list and the play list: both drag sources and drop targets.
class EditorList : public QListView {
public:
    EditorList(PlaylistEditorWindow& dialog, TEditorList which, QWidget* parent);
    TEditorList Which() const { return which_; }
    // The row a drop would land on while a drag is over the play list; -1 otherwise.
    int DropIndicator() const { return dropIndicator_; }
    // The mime type of a drag between the editor's lists.
    static const char* const kMimeType;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    EditorList* SourceOf(const QDropEvent* event) const;
    int DropRow(QPoint position) const;
    void StartDrag();

    PlaylistEditorWindow& dialog_;
    TEditorList which_;
    QPoint pressPoint_;
    bool pressed_ = false;
    int dropIndicator_ = -1;
};

class PlaylistEditorWindow : public QDialog, public TPlaylistEditorWindow {
public:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 470;

    // `clock` gives the shuffle's seed (tests fix it); empty: the time of day.
    explicit PlaylistEditorWindow(std::string programFolder, QWidget* parent = nullptr,
                                  TTimeOfDayClock clock = {});
    ~PlaylistEditorWindow() override;

    TPlaylistEditor& Controller() { return *controller_; }
    // FormShow: the player's list, its file name and its current entry.
    void Start(const std::vector<std::string>& list, const std::string& listFileName, std::size_t index);

    // The note pictures of the play list's rows: the plain one and its inverted copy.
    const QImage& NoteBitmap() const { return note_; }
    const QImage& SelectedNoteBitmap() const { return selectedNote_; }

    // F1: the help, at the editor's topic (the player's help is the main window's business).
    std::function<void()> OnHelp;

    // ---- TPlaylistEditorWindow ----
    void ViewChanged() override;

    // The controls.
    QComboBox* DriveComboBox1 = nullptr; // the places
    QListWidget* DirectoryListBox1 = nullptr;
    EditorList* FileListBox = nullptr;
    EditorList* PlayListBox = nullptr;
    QPushButton* AddButton = nullptr;
    QPushButton* Button1 = nullptr; // "A&dd All >>"
    QPushButton* RemoveButton = nullptr;
    QPushButton* ClearButton = nullptr;
    QPushButton* RandomizeButton = nullptr;
    QPushButton* Button2 = nullptr;       // "&Open List"
    QPushButton* Button3 = nullptr;       // "&Save List as..."
    QPushButton* Button4 = nullptr;       // "A&ppend List"
    QRadioButton* RadioButton1 = nullptr; // "LST"
    QRadioButton* RadioButton2 = nullptr; // "M3U"
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QLabel* RzStatusPane1 = nullptr;
    QLabel* RzStatusPane2 = nullptr;
    QTimer ScrollTimer;

    // The list box widget of a list, and the list of a widget.
    EditorList* ListOf(TEditorList list) const;
    // The top row the play list shows.
    int PlayTopRow() const;

    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    friend class EditorList;
    void Build();
    void Wire();
    void ApplyFolders();
    void ApplyPlayList();
    void ApplySelection(EditorList& list, const std::vector<bool>& selected, int current);
    void ReportSelection(EditorList& list);
    void AutoScrollTick();
    void MakeNotes();

    std::unique_ptr<TPlaylistEditor> controller_;
    RowsModel* fileModel_ = nullptr;
    RowsModel* playModel_ = nullptr;
    QImage note_;
    QImage selectedNote_;
    bool applying_ = false;
    std::uint32_t shownFolder_ = 0;
    std::uint32_t shownList_ = 0;
    std::uint32_t shownScroll_ = 0;
};

} // namespace tunefold::windows
