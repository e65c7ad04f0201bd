#include "engine/displays/display_timer_client.h"

#include "engine/framework/display_timer.h"

namespace tunefold {

bool TDisplayTimerClient::Add(int intervalMs, bool suspended, std::function<void()> callback,
                              TComponent* component) {
    Remove();
    FResting = false;
    FCallback = std::move(callback);
    // The shared timer keeps this object's address in the callback; the object removes the client
    // before it goes away, so the callback never outlives it.
    FClient = AddTimerClient(
        intervalMs, suspended ? 1 : 0,
        [this](PMMTimerClient, TComponent*) {
            if (FCallback)
                FCallback();
        },
        component);
    return FClient != nullptr;
}

void TDisplayTimerClient::SetInterval(int intervalMs) {
    if (FClient != nullptr)
        SetTimerClientInterval(FClient, intervalMs);
}

void TDisplayTimerClient::Suspend() {
    if (FClient != nullptr)
        SuspendTimerClient(FClient);
}

void TDisplayTimerClient::Resume() {
    if (FClient != nullptr)
        ResumeTimerClient(FClient);
}

void TDisplayTimerClient::RestUnless(const std::function<bool()>& busy) {
    if (FClient != nullptr && !FResting.exchange(true)) {
        RestTimerClient(FClient);
    }
    if (busy()) {
        Wake();
    }
}

void TDisplayTimerClient::Wake() {
    if (FClient != nullptr && FResting.exchange(false)) {
        WakeTimerClient(FClient);
    }
}

void TDisplayTimerClient::Remove() {
    if (FClient == nullptr)
        return;
    RemoveTimerClient(FClient);
    FClient = nullptr;
}

} // namespace tunefold
