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
    if (TMMTimerClient* client = FClient.load())
        SetTimerClientInterval(client, intervalMs);
}

void TDisplayTimerClient::Suspend() {
    if (TMMTimerClient* client = FClient.load())
        SuspendTimerClient(client);
}

void TDisplayTimerClient::Resume() {
    if (TMMTimerClient* client = FClient.load())
        ResumeTimerClient(client);
}

void TDisplayTimerClient::RestUnless(const std::function<bool()>& busy) {
    // A tick that comes before Add has stored the client does not rest; the next one will.
    TMMTimerClient* client = FClient.load();
    if (client != nullptr && !FResting.exchange(true)) {
        RestTimerClient(client);
    }
    if (busy()) {
        Wake();
    }
}

void TDisplayTimerClient::Wake() {
    TMMTimerClient* client = FClient.load();
    if (client != nullptr && FResting.exchange(false)) {
        WakeTimerClient(client);
    }
}

void TDisplayTimerClient::Remove() {
    TMMTimerClient* client = FClient.exchange(nullptr);
    if (client != nullptr)
        RemoveTimerClient(client);
}

} // namespace tunefold
