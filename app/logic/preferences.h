// The preferences dialog's controller: the audio page (the output device, its callback mode and the
// number of buffers) and the colour page (the 30 scheme colours, named schemes in the program's
// folder). The dialog wires its controls to the handlers here and paints TPreferencesView.
//
// What the dialog changes it changes on the live objects (the wave output, the recording path of
// the equalizer window, the colour slots), so Apply shows it at once. When the dialog opens it
// notes its own values; Cancel, the close box and Delete put exactly those back, and only OK and
// Apply store (Apply also makes its values the ones Cancel returns to), and only the dialog's own
// values: the pre-volume, the window places and whatever else
// the user changed elsewhere since the settings were loaded are none of its business.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/logic/colour_scheme.h"
#include "engine/devices/wave_out.h"

namespace tunefold {

class TMMWaveIn;
class TMMRingBuffer;

// What the dialog works on. The main window's side fills it in.
class TPreferencesTarget {
public:
    virtual ~TPreferencesTarget() = default;
    virtual TMMWaveOut& WaveOut() = 0;
    // The equalizer window's recording path; null while there is none.
    virtual TMMWaveIn* WaveIn() { return nullptr; }
    virtual TMMRingBuffer* RingBuffer() { return nullptr; }
    // Col1 .. Col30.
    virtual TColourSlots& Colours() = 0;
    // Repaint the main window and the compact panel with the slots.
    virtual void SetColors() = 0;
    // Repaint the equalizer window with the slots.
    virtual void SetEqColors() {}
    // An error the wave output raised, shown as the application shows what nothing caught.
    virtual void ShowError(const std::string& text);
};

// The colour page's grid: each element group with the slots of its three state columns
// ("Unactive-OFF", "Unactive-ON", "Active"), slot numbers 1 .. 30.
struct TColourPageRow {
    const char* label;
    std::array<int, 3> slotNumbers;
};
extern const std::array<TColourPageRow, 10> kColourPageRows;
extern const std::array<const char*, 3> kColourPageColumns;
// The buttons of slots that colour nothing and are not shown (slot 19 colours nothing either but
// keeps its button).
bool ColourButtonHidden(int slot);

enum class TPreferencesPage { Audio = 0, Colors = 1 };

struct TPreferencesView {
    TPreferencesPage page = TPreferencesPage::Colors;
    int helpContext = 2;

    // ---- the audio page ----
    std::vector<std::string> devices; // PlayCombo: entry k is device k - 1
    int deviceIndex = -1;             // -1: nothing chosen
    TMMCBMode callBackMode = cmThread;
    bool interruptEnabled = false;
    int buffers = 1; // the slider and the spin button
    std::string bufferLabel;

    // ---- the colour page ----
    std::vector<std::string> schemes; // ComboBox1: "Standard" first
    std::string schemeText = " ";     // what the combo shows
    bool deleteEnabled = false;
    TColourSlots buttons{}; // RzButton1 .. RzButton30

    bool closed = false;
    bool accepted = false; // closed with OK
};

class TPreferences {
public:
    static constexpr int kMinBuffers = 1;
    static constexpr int kMaxBuffers = 200;

    TPreferences(TPreferencesTarget& target, std::string programFolder);

    const TPreferencesView& View() const { return view_; }
    // The system's decimal separator for the buffer label.
    void SetDecimalSeparator(char separator) { decimalSeparator_ = separator; }

    // ---- the dialog as a whole ----
    // Shown: the snapshot of the dialog's values, the help topic, then Shw.
    void FormShow();
    // Fills every control from the live values.
    void Shw();
    void PageControl1Change(TPreferencesPage page);
    // OK: apply, store, close; a refused value keeps the dialog open and stores nothing.
    void btnOkClick();
    // Apply: the colours onto the windows and the audio settings onto the devices, then stored;
    // what Cancel returns to from then on. False, storing nothing, when a device refused a value
    // or the store could not be written.
    bool btnApplyClick();
    // Cancel (and the close box, and Escape): the snapshot back on the live objects, then close.
    void btnCancelClick();
    // The dialog goes, whatever closed it: anything but OK counts as Cancel.
    void FormClose();

    // ---- the audio page ----
    void PlayComboChange(int index);
    void RadioClick(TMMCBMode mode);
    // The slider (`fromSlider`) or the spin button moved to `value`.
    void BufferSizeChange(bool fromSlider, int value);
    // WaveOut.BufferSize x the buffers shown.
    std::int64_t TotalBufferBytes() const;

    // ---- the colour page ----
    void ComboBox1Change(const std::string& text);
    void Button1Click(); // "&Save as..."
    void Button2Click(); // "&Delete"
    // Colour button n (1 .. 30).
    void RzButtonClick(int n);

private:
    struct Snapshot {
        TMMDeviceId deviceId = 0;
        int numBuffers = 0;
        TMMCBMode callBackMode = cmThread;
        bool haveWaveIn = false;
        TMMDeviceId inDeviceId = 0;
        int inNumBuffers = 0;
        TMMCBMode inCallBackMode = cmThread;
        bool haveRing = false;
        int ringBuffers = 0;
        TColourSlots colours{};
    };

    // The dialog's own values as they are now: what Cancel returns to.
    void TakeSnapshot();
    void FillAudioPage();
    void FillColourPage();
    void UpdateLabel();
    void RepaintColours();
    // The audio page onto the devices, each value only when it differs. False (after showing the
    // device's error) when a device refused one; the values before it stay applied.
    bool ApplyAudio();
    // The snapshot's audio values back, each only when it differs; refusals are passed over.
    void RestoreAudio();
    bool Store();
    void Close(bool accepted);

    TPreferencesTarget& target_;
    std::string programFolder_;
    TPreferencesView view_;
    Snapshot snapshot_;
    bool shown_ = false;
    char decimalSeparator_ = '.';
};

// "264 Kb - 1.53 seconds": the size in kilobytes and, when the format's byte rate is known, its
// playing time in seconds with two decimals (`decimalSeparator` between them).
std::string BufferSizeLabel(std::int64_t totalBytes, const WAVEFORMATEX* format, char decimalSeparator = '.');

} // namespace tunefold
