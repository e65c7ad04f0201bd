#include "app/windows/preferences_dialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDesktopServices>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app/controls/color_ref.h"
#include "app/logic/file_player.h"
#include "app/qt/application.h"
#include "app/windows/main_window.h"
#include "platform/dialogs.h"

namespace tunefold::windows {

namespace {

QString Text(const std::string& s) {
    return QString::fromStdString(s);
}

void PaintColourButton(QPushButton& button, std::uint32_t colour) {
    const QColor c = controls::ColorFromRef(colour);
    button.setStyleSheet(QStringLiteral("QPushButton { background-color: %1; border: 1px solid #404040; }")
                             .arg(c.name(QColor::HexRgb)));
    button.setProperty("colourRef", QVariant::fromValue(static_cast<uint>(colour)));
}

} // namespace

// ---------------------------------------------------------------- the main window's side

TMMWaveOut& MainWindowPreferences::WaveOut() {
    return main_.Player().WaveOut();
}

void MainWindowPreferences::SetColors() {
    main_.SetColourSlots(slots_);
}

void MainWindowPreferences::ShowError(const std::string& text) {
    if (auto* app = dynamic_cast<qt::Application*>(QCoreApplication::instance())) {
        app->ShowException(text);
        return;
    }
    TPreferencesTarget::ShowError(text);
}

// ---------------------------------------------------------------- the dialog

PreferencesDialog::PreferencesDialog(TPreferencesTarget& target, const std::string& programFolder,
                                     QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      prefs_(target, programFolder) {
    setWindowTitle(QStringLiteral("Preferences"));
    setObjectName(QStringLiteral("PreferencesForm"));
    setFixedSize(kWidth, kHeight);
    setModal(true);
    const QLocale locale = QLocale::system();
    const QString point = locale.decimalPoint();
    prefs_.SetDecimalSeparator(point.size() == 1 && point[0].unicode() < 128 ? point[0].toLatin1() : '.');

    PageControl1 = new QTabWidget(this);
    PageControl1->setGeometry(6, 6, kWidth - 12, kHeight - 50);
    OptAudio = BuildAudioPage();
    TabSheet1 = BuildColourPage();
    PageControl1->addTab(OptAudio, QStringLiteral("A&udio"));
    PageControl1->addTab(TabSheet1, QStringLiteral("&Colors"));
    PageControl1->setCurrentIndex(1);

    btnOk = new QPushButton(QStringLiteral("&OK"), this);
    btnApply = new QPushButton(QStringLiteral("&Apply"), this);
    btnCancel = new QPushButton(QStringLiteral("Ca&ncel"), this);
    int x = kWidth - 3 * 84 - 6;
    for (QPushButton* b : {btnOk, btnApply, btnCancel}) {
        b->setGeometry(x, kHeight - 36, 78, 28);
        b->setAutoDefault(false);
        x += 84;
    }
    btnOk->setDefault(true);
    Wire();
}

PreferencesDialog::~PreferencesDialog() = default;

QWidget* PreferencesDialog::BuildAudioPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);

    auto* device = new QGroupBox(QStringLiteral(" Playback Device "), page);
    auto* deviceLayout = new QVBoxLayout(device);
    PlayCombo = new QComboBox(device);
    deviceLayout->addWidget(PlayCombo);
    layout->addWidget(device);

    auto* callback = new QGroupBox(QStringLiteral(" Playback Callback "), page);
    auto* callbackLayout = new QVBoxLayout(callback);
    radioWindow = new QRadioButton(QStringLiteral("Window"), callback);
    radioThread = new QRadioButton(QStringLiteral("Thread"), callback);
    radioInterrupt = new QRadioButton(QStringLiteral("Interrupt"), callback);
    for (QRadioButton* r : {radioWindow, radioThread, radioInterrupt}) {
        callbackLayout->addWidget(r);
    }
    layout->addWidget(callback);

    auto* buffers = new QGroupBox(QStringLiteral(" Playback Buffersize "), page);
    auto* buffersLayout = new QGridLayout(buffers);
    sliderBufferSize = new QSlider(Qt::Horizontal, buffers);
    sliderBufferSize->setRange(TPreferences::kMinBuffers, TPreferences::kMaxBuffers);
    spinBufferSize = new QSpinBox(buffers);
    spinBufferSize->setRange(TPreferences::kMinBuffers, TPreferences::kMaxBuffers);
    labelBufferSize = new QLabel(buffers);
    buffersLayout->addWidget(sliderBufferSize, 0, 0);
    buffersLayout->addWidget(spinBufferSize, 0, 1);
    buffersLayout->addWidget(labelBufferSize, 1, 0, 1, 2);
    layout->addWidget(buffers);
    layout->addStretch(1);
    return page;
}

QWidget* PreferencesDialog::BuildColourPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* schemes = new QHBoxLayout;
    ComboBox1 = new QComboBox(page);
    ComboBox1->setPlaceholderText(QStringLiteral(" "));
    ComboBox1->setMinimumWidth(130);
    Button1 = new QPushButton(QStringLiteral("&Save as..."), page);
    Button2 = new QPushButton(QStringLiteral("&Delete"), page);
    Button2->setEnabled(false);
    for (QPushButton* b : {Button1, Button2}) {
        b->setAutoDefault(false);
    }
    schemes->addWidget(ComboBox1, 1);
    schemes->addWidget(Button1);
    schemes->addWidget(Button2);
    layout->addLayout(schemes);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    for (int c = 0; c < 3; ++c) {
        auto* header = new QLabel(QString::fromLatin1(kColourPageColumns[static_cast<std::size_t>(c)]), page);
        header->setAlignment(Qt::AlignCenter);
        // The three column names are wider than the buttons under them: a smaller face keeps
        // the row names whole.
        QFont small = header->font();
        small.setPointSizeF(small.pointSizeF() * 0.8);
        header->setFont(small);
        grid->addWidget(header, 0, c + 1);
    }
    int row = 1;
    for (const TColourPageRow& r : kColourPageRows) {
        grid->addWidget(new QLabel(QString::fromLatin1(r.label), page), row, 0);
        for (int c = 0; c < 3; ++c) {
            const int slot = r.slotNumbers[static_cast<std::size_t>(c)];
            auto* button = new QPushButton(page);
            button->setObjectName(QStringLiteral("RzButton%1").arg(slot));
            button->setFixedSize(50, 18);
            button->setAutoDefault(false);
            button->setVisible(!ColourButtonHidden(slot));
            if (ColourButtonHidden(slot)) {
                // The grid keeps the hidden button's cell.
                QSizePolicy keep = button->sizePolicy();
                keep.setRetainSizeWhenHidden(true);
                button->setSizePolicy(keep);
            }
            RzButton[static_cast<std::size_t>(slot - 1)] = button;
            grid->addWidget(button, row, c + 1, Qt::AlignCenter);
        }
        ++row;
    }
    grid->setColumnStretch(0, 1);
    layout->addLayout(grid);
    layout->addStretch(1);
    return page;
}

void PreferencesDialog::Wire() {
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int index) {
        Run([&] {
            prefs_.PageControl1Change(index == 0 ? TPreferencesPage::Audio : TPreferencesPage::Colors);
        });
    });
    connect(btnOk, &QPushButton::clicked, this, [this] { Run([&] { prefs_.btnOkClick(); }); });
    connect(btnApply, &QPushButton::clicked, this, [this] { Run([&] { prefs_.btnApplyClick(); }); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { Run([&] { prefs_.btnCancelClick(); }); });
    connect(PlayCombo, &QComboBox::currentIndexChanged, this,
            [this](int index) { Run([&] { prefs_.PlayComboChange(index); }); });
    connect(radioWindow, &QRadioButton::clicked, this, [this] { Run([&] { prefs_.RadioClick(cmWindow); }); });
    connect(radioThread, &QRadioButton::clicked, this, [this] { Run([&] { prefs_.RadioClick(cmThread); }); });
    connect(radioInterrupt, &QRadioButton::clicked, this,
            [this] { Run([&] { prefs_.RadioClick(cmCallback); }); });
    connect(sliderBufferSize, &QSlider::valueChanged, this,
            [this](int value) { Run([&] { prefs_.BufferSizeChange(true, value); }); });
    connect(spinBufferSize, &QSpinBox::valueChanged, this,
            [this](int value) { Run([&] { prefs_.BufferSizeChange(false, value); }); });
    connect(ComboBox1, &QComboBox::activated, this, [this](int index) {
        Run([&] { prefs_.ComboBox1Change(ComboBox1->itemText(index).toStdString()); });
    });
    connect(Button1, &QPushButton::clicked, this, [this] { Run([&] { prefs_.Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, [this] { Run([&] { prefs_.Button2Click(); }); });
    for (int n = 1; n <= ColourSlotCount; ++n) {
        connect(RzButton[static_cast<std::size_t>(n - 1)], &QPushButton::clicked, this,
                [this, n] { Run([&] { prefs_.RzButtonClick(n); }); });
    }
}

void PreferencesDialog::Sync() {
    syncing_ = true;
    const TPreferencesView& v = prefs_.View();
    PageControl1->setCurrentIndex(v.page == TPreferencesPage::Audio ? 0 : 1);

    QStringList devices;
    for (const std::string& d : v.devices) {
        devices << Text(d);
    }
    QStringList shown;
    for (int i = 0; i < PlayCombo->count(); ++i) {
        shown << PlayCombo->itemText(i);
    }
    if (shown != devices) {
        PlayCombo->clear();
        PlayCombo->addItems(devices);
    }
    PlayCombo->setCurrentIndex(v.deviceIndex);
    radioInterrupt->setEnabled(v.interruptEnabled);
    radioWindow->setChecked(v.callBackMode == cmWindow);
    radioThread->setChecked(v.callBackMode == cmThread);
    radioInterrupt->setChecked(v.callBackMode == cmCallback);
    sliderBufferSize->setValue(v.buffers);
    spinBufferSize->setValue(v.buffers);
    labelBufferSize->setText(Text(v.bufferLabel));

    QStringList schemes;
    for (const std::string& s : v.schemes) {
        schemes << Text(s);
    }
    QStringList listed;
    for (int i = 0; i < ComboBox1->count(); ++i) {
        listed << ComboBox1->itemText(i);
    }
    if (listed != schemes) {
        ComboBox1->clear();
        ComboBox1->addItems(schemes);
    }
    ComboBox1->setCurrentIndex(ComboBox1->findText(Text(v.schemeText)));
    Button2->setEnabled(v.deleteEnabled);
    for (int i = 0; i < ColourSlotCount; ++i) {
        PaintColourButton(*RzButton[static_cast<std::size_t>(i)], v.buttons[static_cast<std::size_t>(i)]);
    }
    syncing_ = false;
    if (v.closed && isVisible()) {
        if (v.accepted) {
            QDialog::accept();
        } else {
            QDialog::reject();
        }
    }
}

void PreferencesDialog::reject() {
    // Escape and the close box are Cancel.
    if (!prefs_.View().closed) {
        prefs_.FormClose();
    }
    QDialog::reject();
}

void PreferencesDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!shown_) {
        shown_ = true;
        // Centred on the screen the dialog opens on.
        if (const QScreen* screen = this->screen()) {
            move(screen->availableGeometry().center() - rect().center());
        }
        prefs_.FormShow();
        Sync();
    }
}

QString PreferencesDialog::HelpUrl() const {
    QUrl url(MainWindow::HelpUrl());
    if (url.isEmpty()) {
        return {};
    }
    url.setFragment(QStringLiteral("topic-%1").arg(prefs_.View().helpContext));
    return url.toString();
}

void PreferencesDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        ++helpRequests_;
        const QString url = HelpUrl();
        if (!url.isEmpty()) {
            QDesktopServices::openUrl(QUrl(url));
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace tunefold::windows
