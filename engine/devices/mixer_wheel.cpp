#include "engine/devices/mixer_wheel.h"

#include <cmath>

namespace tunefold {

namespace {

// Halves to even, as rounding of extended reals does.
std::int64_t RoundEven(double v) {
    return static_cast<std::int64_t>(std::nearbyint(v));
}

} // namespace

TMMMixerWheel::TMMMixerWheel(TComponent* owner) : TComponent(owner) {
    FObserver.OnNotify = [this](TMMObserver*, void*) { Setup(); };
}

TMMMixerWheel::~TMMMixerWheel() {
    Destroying();
    if (FControl != nullptr) {
        FControl->Links().Remove(&FObserver);
    }
}

void TMMMixerWheel::SetControl(TMMCustomMixerControl* value) {
    if (value != nullptr) {
        const TMMControlClass cls = value->ControlClass();
        if (cls != ccFader && cls != ccNumber && cls != ccSlider && cls != ccTime) {
            throw EMMMixerControlsError("Invalid control class");
        }
    }
    if (FControl != nullptr) {
        FControl->Links().Remove(&FObserver);
    }
    FControl = value;
    if (FControl != nullptr) {
        FControl->Links().Add(&FObserver);
        FreeNotification(FControl);
    }
    Setup();
}

void TMMMixerWheel::SetChannel(TMMChannel value) {
    FChannel = value;
    Setup();
}

void TMMMixerWheel::SetItem(int value) {
    FItem = value;
    Setup();
}

void TMMMixerWheel::SetEnabled(bool value) {
    FEnabled = value;
    Setup();
}

void TMMMixerWheel::Loaded() {
    TComponent::Loaded();
    Setup();
}

void TMMMixerWheel::Setup() {
    if (IsLoading()) {
        return;
    }
    FSettingUp = true;
    FWheelEnabled = false;
    FValue = 0;
    if (FControl != nullptr) {
        const TMMControlInfo& info = FControl->ControlInfo();
        const bool valid = FControl->ValidFor(FItem);
        FWheelEnabled = FEnabled && valid;
        const double span = static_cast<double>(info.MaxValue - info.MinValue);
        FStep = span / (info.Steps == 0 ? 32.0 : static_cast<double>(info.Steps));
        FMax = FStep == 0.0 ? 1 : static_cast<int>(std::trunc(span / FStep));
        if (valid && FStep != 0.0 && FMax > 0) {
            try {
                const std::int64_t v = FControl->UnsignedValue(FChannel, FItem);
                FValue = static_cast<int>(RoundEven(static_cast<double>(v - info.MinValue) / FStep));
            } catch (const EMMError&) {
                FValue = 0;
            }
        }
    } else {
        FStep = 0.0;
        FMax = 1;
    }
    FSettingUp = false;
    if (OnDisplay) {
        OnDisplay();
    }
}

void TMMMixerWheel::UserChanged(int value) {
    if (FSettingUp || FControl == nullptr) {
        return;
    }
    if ((FControl->ControlInfo().Flags & cfDisabled) != 0 || !FControl->ValidFor(FItem)) {
        Setup(); // the turn is undone
        return;
    }
    FValue = value;
    const double raw = value * FStep + static_cast<double>(FControl->ControlInfo().MinValue);
    FControl->SetUnsignedValue(FChannel, FItem, RoundEven(raw));
}

void TMMMixerWheel::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove && component == FControl) {
        FControl = nullptr;
        Setup();
    }
}

} // namespace tunefold
