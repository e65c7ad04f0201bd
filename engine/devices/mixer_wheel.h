// A rotary control bound to a mixer control: its range and value follow the control (and every
// change another program makes to it), and turning it writes the control. This is the wheel's
// logic; the window's wheel widget shows Min..Max, Value and WheelEnabled and reports turns.
#pragma once

#include <functional>

#include "engine/devices/mixer.h"

namespace tunefold {

class TMMMixerWheel : public TComponent {
public:
    explicit TMMMixerWheel(TComponent* owner = nullptr);
    ~TMMMixerWheel() override;

    TMMCustomMixerControl* Control() const { return FControl; }
    // A fader, number, slider or time control; "Invalid control class" for any other.
    void SetControl(TMMCustomMixerControl* value);
    TMMChannel Channel() const { return FChannel; }
    void SetChannel(TMMChannel value);
    int Item() const { return FItem; }
    void SetItem(int value);
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);

    // What the wheel shows.
    int Min() const { return 0; }
    int Max() const { return FMax; }
    int Value() const { return FValue; }
    bool WheelEnabled() const { return FWheelEnabled; }
    double Step() const { return FStep; }
    // Told after every set-up, so the widget can show the new range and value.
    std::function<void()> OnDisplay;

    // The user turned the wheel to `value`.
    void UserChanged(int value);
    void Loaded() override;
    // Range, value and enabled state from the control.
    void Setup();

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    TMMCustomMixerControl* FControl = nullptr;
    TMMChannel FChannel = chBoth;
    int FItem = -1;
    bool FEnabled = true;
    int FMax = 1;
    int FValue = 0;
    bool FWheelEnabled = false;
    double FStep = 0.0;
    bool FSettingUp = false;
    TMMObserver FObserver;
};

} // namespace tunefold
