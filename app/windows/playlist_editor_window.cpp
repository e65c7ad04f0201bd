#include "app/windows/playlist_editor_window.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDrag>
#include <QDragEnterEvent>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include <optional>

#include "engine/framework/resources.h"

namespace tunefold::windows {

namespace {

QString Text(const std::string& s) {
    return QString::fromStdString(s);
}

// A picture of the program's resources; `transparent` (0xRRGGBB) becomes clear, unless negative.
QImage ResourceImage(const char* name, int transparent) {
    const std::optional<TRaster> raster = LoadBitmapResource(name);
    if (!raster) {
        QImage blank(16, 16, QImage::Format_ARGB32);
        blank.fill(Qt::transparent);
        return blank;
    }
    QImage image(raster->Width(), raster->Height(), QImage::Format_ARGB32);
    for (int y = 0; y < raster->Height(); ++y) {
        const Pixel* row = raster->Row(y);
        for (int x = 0; x < raster->Width(); ++x) {
            const Pixel p = row[x] & 0xFFFFFF;
            image.setPixel(x, y, static_cast<int>(p) == transparent ? qRgba(0, 0, 0, 0) : (0xFF000000u | p));
        }
    }
    return image;
}

// The drag cursors of the resources: magenta is what lies around the arrow.
QPixmap DragCursor(TDragCursor kind) {
    const char* name = kind == TDragCursor::TrackAdd      ? "CR_TRACKADD"
                       : kind == TDragCursor::TrackDelete ? "CR_TRACKDELETE"
                                                          : "CR_TRACKDRAG";
    return QPixmap::fromImage(ResourceImage(name, 0xFF00FF));
}

Qt::DropAction ActionOf(TDragCursor kind) {
    switch (kind) {
    case TDragCursor::TrackAdd:
        return Qt::CopyAction;
    case TDragCursor::TrackDelete:
        return Qt::LinkAction;
    default:
        return Qt::MoveAction;
    }
}

} // namespace

// The rows of a list as the controller holds them: nothing is copied into Qt's items, so ten
// thousand entries cost nothing to show.
class RowsModel : public QAbstractListModel {
public:
    RowsModel(const std::vector<std::string>& rows, QObject* parent)
        : QAbstractListModel(parent), rows_(rows) {}
    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid() ||
            static_cast<std::size_t>(index.row()) >= rows_.size()) {
            return {};
        }
        return Text(rows_[static_cast<std::size_t>(index.row())]);
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled
                               : Qt::ItemIsDropEnabled;
    }
    void Reset() {
        beginResetModel();
        endResetModel();
    }

private:
    const std::vector<std::string>& rows_;
};

// A play-list row: the list's background, the note (inverted for a selected row), the entry.
class NoteDelegate : public QStyledItemDelegate {
public:
    NoteDelegate(PlaylistEditorWindow& dialog, QObject* parent)
        : QStyledItemDelegate(parent), dialog_(dialog) {}
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QRect r = option.rect;
        // A selected row's background is the selection colour, which shows through the inverted
        // note's transparent black.
        const bool selected = (option.state & QStyle::State_Selected) != 0;
        p->fillRect(r, selected ? option.palette.highlight() : option.palette.base());
        const QImage& note = selected ? dialog_.SelectedNoteBitmap() : dialog_.NoteBitmap();
        p->drawImage(r.left() + 1, r.top(), note);
        p->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        p->drawText(r.adjusted(note.width() + 6, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                    index.data().toString());
        // Where dragged rows would go: a mark above the row they would be put before, or below the
        // last row.
        const auto* list = dynamic_cast<const EditorList*>(option.widget);
        if (list == nullptr || list->DropIndicator() < 0) {
            return;
        }
        const int count = index.model()->rowCount();
        int y = -1;
        if (list->DropIndicator() == index.row()) {
            y = r.top() + 1;
        } else if (list->DropIndicator() == count && index.row() == count - 1) {
            y = r.bottom() - 1;
        }
        if (y >= 0) {
            const QColor colour = option.palette.color(QPalette::Link);
            p->setPen(QPen(colour, 2));
            p->drawLine(r.left(), y, r.right(), y);
            p->setPen(Qt::NoPen);
            p->setBrush(colour);
            p->drawPolygon(
                QPolygon({QPoint(r.left(), y - 4), QPoint(r.left() + 6, y), QPoint(r.left(), y + 4)}));
        }
    }
    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return {100, TPlaylistEditor::kRowHeight};
    }

private:
    PlaylistEditorWindow& dialog_;
};

// ------------------------------------------------------------------ the lists

const char* const EditorList::kMimeType = "application/x-tunefold-editor-rows";

EditorList::EditorList(PlaylistEditorWindow& dialog, TEditorList which, QWidget* parent)
    : QListView(parent), dialog_(dialog), which_(which) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setUniformItemSizes(true);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    // The editor scrolls itself while a drag is outside the list.
    setAutoScroll(false);
    setDragEnabled(false);
}

void EditorList::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    pressPoint_ = event->position().toPoint();
    // A press on a selected row keeps the selection, so it can be dragged as a whole.
    const QModelIndex at = indexAt(pressPoint_);
    if (pressed_ && at.isValid() && selectionModel()->isSelected(at) &&
        event->modifiers() == Qt::NoModifier) {
        return;
    }
    QListView::mousePressEvent(event);
    if (which_ == TEditorList::Files) {
        dialog_.controller_->FileListBoxMouseDown();
    }
}

void EditorList::mouseMoveEvent(QMouseEvent* event) {
    if (pressed_ && (event->buttons() & Qt::LeftButton) &&
        (event->position().toPoint() - pressPoint_).manhattanLength() >= QApplication::startDragDistance()) {
        pressed_ = false;
        StartDrag();
        return;
    }
    QListView::mouseMoveEvent(event);
}

void EditorList::mouseReleaseEvent(QMouseEvent* event) {
    if (pressed_) {
        // A click on a selected row that did not become a drag selects that row alone.
        const QModelIndex at = indexAt(event->position().toPoint());
        if (at.isValid() && selectionModel()->isSelected(at) && event->modifiers() == Qt::NoModifier) {
            selectionModel()->select(at, QItemSelectionModel::ClearAndSelect);
            selectionModel()->setCurrentIndex(at, QItemSelectionModel::NoUpdate);
        }
    }
    pressed_ = false;
    QListView::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) {
        dialog_.controller_->ListMouseUp(which_);
    } else {
        dialog_.controller_->UpdateControls();
    }
}

void EditorList::mouseDoubleClickEvent(QMouseEvent* event) {
    QListView::mouseDoubleClickEvent(event);
    if (which_ == TEditorList::Files) {
        dialog_.controller_->FileListDoubleClick();
    } else {
        dialog_.controller_->PlayListDoubleClick();
    }
}

void EditorList::keyReleaseEvent(QKeyEvent* event) {
    QListView::keyReleaseEvent(event);
    if (which_ == TEditorList::Play) {
        dialog_.controller_->ListKeyUp();
    } else {
        dialog_.controller_->UpdateControls();
    }
}

void EditorList::StartDrag() {
    const TPlaylistEditorView& v = dialog_.controller_->View();
    if (which_ == TEditorList::Files && !v.fileDragEnabled) {
        return;
    }
    if (selectionModel()->selectedRows().isEmpty()) {
        return;
    }
    auto* drag = new QDrag(this);
    auto* mime = new QMimeData;
    mime->setData(kMimeType, which_ == TEditorList::Files ? "files" : "play");
    drag->setMimeData(mime);
    for (const TDragCursor kind : {TDragCursor::TrackDrag, TDragCursor::TrackAdd, TDragCursor::TrackDelete}) {
        drag->setDragCursor(DragCursor(kind), ActionOf(kind));
    }
    drag->exec(Qt::MoveAction | Qt::CopyAction | Qt::LinkAction, Qt::MoveAction);
    dialog_.controller_->ListEndDrag();
}

EditorList* EditorList::SourceOf(const QDropEvent* event) const {
    if (event->mimeData() == nullptr || !event->mimeData()->hasFormat(kMimeType)) {
        return nullptr;
    }
    auto* source = dynamic_cast<EditorList*>(event->source());
    if (source == nullptr) {
        // A drag the test or another part of the program made: the mime data names the list.
        const QByteArray which = event->mimeData()->data(kMimeType);
        return which == "files" ? dialog_.FileListBox : dialog_.PlayListBox;
    }
    return source;
}

int EditorList::DropRow(QPoint position) const {
    const int count = model() != nullptr ? model()->rowCount() : 0;
    return DropPosition(position.y(), TPlaylistEditor::kRowHeight, viewport()->height(),
                        verticalScrollBar()->value(), count);
}

void EditorList::dragEnterEvent(QDragEnterEvent* event) {
    EditorList* source = SourceOf(event);
    if (source == nullptr) {
        event->ignore();
        return;
    }
    dialog_.controller_->ListDragOver(source->Which(), which_);
    event->setDropAction(ActionOf(dialog_.controller_->View().dragCursor));
    event->accept();
}

void EditorList::dragMoveEvent(QDragMoveEvent* event) {
    EditorList* source = SourceOf(event);
    const bool inside = viewport()->rect().contains(event->position().toPoint());
    if (source == nullptr || !TPlaylistEditor::AcceptsDrop(source->Which(), which_, inside)) {
        event->ignore();
        return;
    }
    const int row = which_ == TEditorList::Play ? DropRow(event->position().toPoint()) : -1;
    if (row != dropIndicator_) {
        dropIndicator_ = row;
        viewport()->update();
    }
    event->setDropAction(ActionOf(dialog_.controller_->View().dragCursor));
    event->accept();
}

void EditorList::dragLeaveEvent(QDragLeaveEvent* event) {
    dropIndicator_ = -1;
    viewport()->update();
    dialog_.controller_->ListDragLeave();
    event->accept();
}

void EditorList::dropEvent(QDropEvent* event) {
    EditorList* source = SourceOf(event);
    dropIndicator_ = -1;
    viewport()->update();
    if (source == nullptr ||
        !TPlaylistEditor::AcceptsDrop(source->Which(), which_,
                                      viewport()->rect().contains(event->position().toPoint()))) {
        event->ignore();
        return;
    }
    const int position = which_ == TEditorList::Play ? DropRow(event->position().toPoint()) : 0;
    event->setDropAction(ActionOf(dialog_.controller_->View().dragCursor));
    event->accept();
    dialog_.controller_->ListDragDrop(source->Which(), which_, position);
}

// ------------------------------------------------------------------ the dialog

PlaylistEditorWindow::PlaylistEditorWindow(std::string programFolder, QWidget* parent, TTimeOfDayClock clock)
    : QDialog(parent) {
    controller_ = std::make_unique<TPlaylistEditor>(*this, std::move(programFolder), std::move(clock));
    MakeNotes();
    Build();
    Wire();
    ScrollTimer.setInterval(TPlaylistEditor::kScrollMs);
    ViewChanged();
}

PlaylistEditorWindow::~PlaylistEditorWindow() {
    ScrollTimer.stop();
}

void PlaylistEditorWindow::MakeNotes() {
    // "BM_NOTE" is drawn with white as its transparent colour; the selected rows' copy is its
    // inverse, whose transparent colour is black.
    const std::optional<TRaster> note = LoadBitmapResource("BM_NOTE");
    TRaster inverted = note ? *note : TRaster(16, 16, 0xFFFFFF);
    for (int y = 0; y < inverted.Height(); ++y) {
        Pixel* row = inverted.Row(y);
        for (int x = 0; x < inverted.Width(); ++x) {
            row[x] = ~row[x] & 0xFFFFFF;
        }
    }
    note_ = ResourceImage("BM_NOTE", 0xFFFFFF);
    selectedNote_ = QImage(inverted.Width(), inverted.Height(), QImage::Format_ARGB32);
    for (int y = 0; y < inverted.Height(); ++y) {
        for (int x = 0; x < inverted.Width(); ++x) {
            const Pixel p = inverted.Row(y)[x];
            selectedNote_.setPixel(x, y, p == 0 ? qRgba(0, 0, 0, 0) : (0xFF000000u | p));
        }
    }
}

void PlaylistEditorWindow::Build() {
    setFixedSize(kWidth, kHeight);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(true);

    DriveComboBox1 = new QComboBox(this);
    DriveComboBox1->setGeometry(8, 8, 250, 24);
    DirectoryListBox1 = new QListWidget(this);
    DirectoryListBox1->setGeometry(8, 36, 250, 150);
    auto* filesLabel = new QLabel(QStringLiteral("A&vailable Files:"), this);
    filesLabel->setGeometry(8, 190, 250, 18);
    FileListBox = new EditorList(*this, TEditorList::Files, this);
    FileListBox->setGeometry(8, 208, 250, 194);
    filesLabel->setBuddy(FileListBox);
    fileModel_ = new RowsModel(controller_->View().files, this);
    FileListBox->setModel(fileModel_);

    const auto button = [this](const char* caption, int y) {
        auto* b = new QPushButton(QString::fromLatin1(caption), this);
        b->setGeometry(266, y, 110, 26);
        b->setAutoDefault(false);
        return b;
    };
    AddButton = button("&Add >>", 26);
    Button1 = button("A&dd All >>", 56);
    RemoveButton = button("&Remove", 96);
    ClearButton = button("C&lear All", 126);
    RandomizeButton = button("Randomi&ze", 166);
    Button2 = button("&Open List", 206);
    Button3 = button("&Save List as...", 236);
    Button4 = button("A&ppend List", 266);
    auto* group = new QGroupBox(QStringLiteral("Type of Playlist"), this);
    group->setGeometry(266, 302, 110, 76);
    RadioButton1 = new QRadioButton(QStringLiteral("LST"), group);
    RadioButton1->setGeometry(10, 22, 90, 20);
    RadioButton2 = new QRadioButton(QStringLiteral("M3U"), group);
    RadioButton2->setGeometry(10, 46, 90, 20);

    auto* playLabel = new QLabel(QStringLiteral("&Play List:"), this);
    playLabel->setGeometry(384, 8, 248, 18);
    PlayListBox = new EditorList(*this, TEditorList::Play, this);
    PlayListBox->setGeometry(384, 26, 248, 376);
    playLabel->setBuddy(PlayListBox);
    playModel_ = new RowsModel(controller_->WorkList(), this);
    PlayListBox->setModel(playModel_);
    PlayListBox->setItemDelegate(new NoteDelegate(*this, PlayListBox));

    RzStatusPane1 = new QLabel(this);
    RzStatusPane1->setGeometry(8, 408, 310, 20);
    RzStatusPane2 = new QLabel(this);
    RzStatusPane2->setGeometry(324, 408, 308, 20);
    for (QLabel* pane : {RzStatusPane1, RzStatusPane2}) {
        pane->setFrameShape(QFrame::Panel);
        pane->setFrameShadow(QFrame::Sunken);
    }

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setGeometry(kWidth - 8 - 2 * 90 - 8, 436, 90, 26);
    OKButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setGeometry(kWidth - 8 - 90, 436, 90, 26);
    CancelButton->setAutoDefault(false);

    // Rows are 16 pixels high; the controller scrolls by whole rows.
    controller_->SetPlayListRows(PlayListBox->viewport()->height() / TPlaylistEditor::kRowHeight);
}

void PlaylistEditorWindow::Wire() {
    TPlaylistEditor& c = *controller_;
    connect(AddButton, &QPushButton::clicked, this, [&c] { c.AddButtonClick(); });
    connect(Button1, &QPushButton::clicked, this, [&c] { c.Button1Click(); });
    connect(RemoveButton, &QPushButton::clicked, this, [&c] { c.RemoveButtonClick(); });
    connect(ClearButton, &QPushButton::clicked, this, [&c] { c.ClearButtonClick(); });
    connect(RandomizeButton, &QPushButton::clicked, this, [&c] { c.RandomizeButtonClick(); });
    connect(Button2, &QPushButton::clicked, this, [&c] { c.OpenPlaylist1Click(); });
    connect(Button3, &QPushButton::clicked, this, [&c] { c.SavePlaylistAs1Click(); });
    connect(Button4, &QPushButton::clicked, this, [&c] { c.AppendPlaylist1Click(); });
    connect(RadioButton1, &QRadioButton::clicked, this, [&c] { c.RadioButton1Click(); });
    connect(RadioButton2, &QRadioButton::clicked, this, [&c] { c.RadioButton2Click(); });
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(DriveComboBox1, &QComboBox::activated, this, [&c](int index) { c.PlaceChange(index); });
    connect(DirectoryListBox1, &QListWidget::itemActivated, this, [this, &c](QListWidgetItem* item) {
        if (!applying_ && item != nullptr) {
            c.DirectoryListBox1Change(item->data(Qt::UserRole).toString().toStdString());
        }
    });
    connect(FileListBox->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { ReportSelection(*FileListBox); });
    connect(PlayListBox->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { ReportSelection(*PlayListBox); });
    connect(&ScrollTimer, &QTimer::timeout, this, [this] { AutoScrollTick(); });
}

void PlaylistEditorWindow::Start(const std::vector<std::string>& list, const std::string& listFileName,
                                 std::size_t index) {
    controller_->SetPlayListRows(PlayListBox->viewport()->height() / TPlaylistEditor::kRowHeight);
    controller_->FormShow(list, listFileName, index);
}

void PlaylistEditorWindow::done(int result) {
    // Closing asks about unsaved changes; the dialog closes with its result whatever the answer.
    controller_->FormHide(result == QDialog::Accepted);
    ScrollTimer.stop();
    QDialog::done(result);
}

void PlaylistEditorWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        if (OnHelp) {
            OnHelp();
        }
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

EditorList* PlaylistEditorWindow::ListOf(TEditorList list) const {
    return list == TEditorList::Files ? FileListBox : list == TEditorList::Play ? PlayListBox : nullptr;
}

int PlaylistEditorWindow::PlayTopRow() const {
    return PlayListBox->verticalScrollBar()->value();
}

void PlaylistEditorWindow::ReportSelection(EditorList& list) {
    if (applying_) {
        return;
    }
    std::vector<std::size_t> rows;
    for (const QModelIndex& i : list.selectionModel()->selectedRows()) {
        rows.push_back(static_cast<std::size_t>(i.row()));
    }
    const int current =
        list.selectionModel()->currentIndex().isValid() ? list.selectionModel()->currentIndex().row() : -1;
    if (list.Which() == TEditorList::Files) {
        controller_->SelectFiles(rows, current);
    } else {
        controller_->SelectEntries(rows, current);
    }
}

void PlaylistEditorWindow::ApplySelection(EditorList& list, const std::vector<bool>& selected, int current) {
    QItemSelection selection;
    const int n = static_cast<int>(selected.size());
    for (int i = 0; i < n;) {
        if (!selected[static_cast<std::size_t>(i)]) {
            ++i;
            continue;
        }
        int j = i;
        while (j + 1 < n && selected[static_cast<std::size_t>(j + 1)]) {
            ++j;
        }
        selection.select(list.model()->index(i, 0), list.model()->index(j, 0));
        i = j + 1;
    }
    list.selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (current >= 0 && current < n) {
        list.selectionModel()->setCurrentIndex(list.model()->index(current, 0),
                                               QItemSelectionModel::NoUpdate);
    }
}

void PlaylistEditorWindow::ApplyFolders() {
    const TPlaylistEditorView& v = controller_->View();
    DriveComboBox1->clear();
    for (const platform::Place& place : v.places) {
        DriveComboBox1->addItem(Text(place.caption), Text(place.path));
    }
    DriveComboBox1->setCurrentIndex(v.placeIndex);
    DirectoryListBox1->clear();
    for (const TFolderRow& row : v.folderRows) {
        auto* item = new QListWidgetItem(
            QString(row.depth * 2, QLatin1Char(' ')) +
                (row.open ? QStringLiteral("\u25BE ") : QStringLiteral("\u25B8 ")) + Text(row.caption),
            DirectoryListBox1);
        item->setData(Qt::UserRole, Text(row.path));
        if (row.current) {
            DirectoryListBox1->setCurrentItem(item);
        }
    }
    fileModel_->Reset();
}

void PlaylistEditorWindow::ApplyPlayList() {
    playModel_->Reset();
}

void PlaylistEditorWindow::ViewChanged() {
    if (applying_ || controller_ == nullptr || PlayListBox == nullptr) {
        return;
    }
    applying_ = true;
    const TPlaylistEditorView& v = controller_->View();
    setWindowTitle(Text(v.caption));
    if (shownFolder_ != v.folderSerial) {
        shownFolder_ = v.folderSerial;
        ApplyFolders();
        ApplySelection(*FileListBox, v.fileSelected, v.fileCurrent);
    }
    if (shownList_ != v.listSerial) {
        shownList_ = v.listSerial;
        ApplyPlayList();
        ApplySelection(*PlayListBox, v.playSelected, v.playCurrent);
    }
    if (shownScroll_ != v.scrollSerial) {
        shownScroll_ = v.scrollSerial;
        PlayListBox->verticalScrollBar()->setValue(v.playTop);
    }
    AddButton->setEnabled(v.addEnabled);
    Button1->setEnabled(v.addAllEnabled);
    RemoveButton->setEnabled(v.removeEnabled);
    ClearButton->setEnabled(v.clearEnabled);
    RandomizeButton->setEnabled(v.randomizeEnabled);
    Button2->setEnabled(v.openEnabled);
    Button3->setEnabled(v.saveEnabled);
    Button4->setEnabled(v.appendEnabled);
    RadioButton1->setChecked(v.flavour == TPlaylistFlavour::LST);
    RadioButton2->setChecked(v.flavour == TPlaylistFlavour::M3U);
    RadioButton1->setEnabled(v.lstEnabled);
    RadioButton2->setEnabled(v.m3uEnabled);
    RzStatusPane1->setText(Text(v.leftPane));
    RzStatusPane2->setText(Text(v.rightPane));
    if (v.scrollTimerEnabled && !ScrollTimer.isActive()) {
        ScrollTimer.start();
    } else if (!v.scrollTimerEnabled) {
        ScrollTimer.stop();
    }
    applying_ = false;
}

void PlaylistEditorWindow::AutoScrollTick() {
    EditorList* list = ListOf(controller_->View().dragList);
    if (list == nullptr) {
        return;
    }
    const QPoint mouse = mapFromGlobal(QCursor::pos());
    const QRect r = list->geometry();
    const int rows = list->viewport()->height() / TPlaylistEditor::kRowHeight;
    QScrollBar* bar = list->verticalScrollBar();
    const int top = AutoScrollTop(mouse.x(), mouse.y(), r.left(), r.top(), r.width(), r.height(),
                                  bar->value(), list->model()->rowCount(), rows);
    bar->setValue(top);
}

} // namespace tunefold::windows
