// The preferences dialog: a fixed 342 x 434 window with the audio page (output device, callback
// mode, number of buffers) and the colour page (scheme combo, "Save as...", "Delete" and the 30
// colour buttons), then OK, Apply and Cancel. It wires every control to TPreferences and paints its
// view; what the choices do is the controller's. Made when the menu asks for it, shown modally,
// freed when it closes.
#pragma once

#include <QDialog>

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "app/logic/preferences.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QWidget;

namespace tunefold::windows {

class MainWindow;

// The main window's side of the dialog: its player's output, the equalizer window's recording
// path (when there is one), and the colour slots the start-up loaded and the close stores.
class MainWindowPreferences : public TPreferencesTarget {
public:
    MainWindowPreferences(MainWindow& main, TColourSlots& colours) : main_(main), slots_(colours) {}
    TMMWaveOut& WaveOut() override;
    TMMWaveIn* WaveIn() override { return waveIn; }
    TMMRingBuffer* RingBuffer() override { return ringBuffer; }
    TColourSlots& Colours() override { return slots_; }
    void SetColors() override;
    void SetEqColors() override {
        if (eqColours) {
            eqColours(slots_);
        }
    }
    void ShowError(const std::string& text) override;

    TMMWaveIn* waveIn = nullptr;
    TMMRingBuffer* ringBuffer = nullptr;
    // The equalizer window's SetEqColors, once that window exists.
    std::function<void(const TColourSlots&)> eqColours;

private:
    MainWindow& main_;
    TColourSlots& slots_;
};

class PreferencesDialog : public QDialog {
public:
    static constexpr int kWidth = 342;
    static constexpr int kHeight = 434;

    PreferencesDialog(TPreferencesTarget& target, const std::string& programFolder,
                      QWidget* parent = nullptr);
    ~PreferencesDialog() override;

    TPreferences& Controller() { return prefs_; }
    // The help page of the active page's topic (what F1 opens).
    QString HelpUrl() const;
    int HelpRequests() const { return helpRequests_; }

    QTabWidget* PageControl1 = nullptr;
    QWidget* OptAudio = nullptr;
    QWidget* TabSheet1 = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnApply = nullptr;
    QPushButton* btnCancel = nullptr;
    // The audio page.
    QComboBox* PlayCombo = nullptr;
    QRadioButton* radioWindow = nullptr;
    QRadioButton* radioThread = nullptr;
    QRadioButton* radioInterrupt = nullptr;
    QSlider* sliderBufferSize = nullptr;
    QSpinBox* spinBufferSize = nullptr;
    QLabel* labelBufferSize = nullptr;
    // The colour page.
    QComboBox* ComboBox1 = nullptr;
    QPushButton* Button1 = nullptr; // "&Save as..."
    QPushButton* Button2 = nullptr; // "&Delete"
    // RzButton1 .. RzButton30 at index 0 .. 29.
    std::array<QPushButton*, ColourSlotCount> RzButton{};

    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* BuildAudioPage();
    QWidget* BuildColourPage();
    void Wire();
    // Paints the view; closes the dialog once the controller says it is closed.
    void Sync();
    template <typename F>
    void Run(F&& handler) {
        if (syncing_) {
            return;
        }
        handler();
        Sync();
    }

    TPreferences prefs_;
    bool syncing_ = false;
    bool shown_ = false;
    int helpRequests_ = 0;
};

} // namespace tunefold::windows
