#include "engine/displays/display_timer_client.h"

// Placeholder until the shared display timer is merged: no timer is available, so Add reports
// failure and displays run without the peak refresh (the documented behaviour when the shared
// timer cannot start).
namespace tunefold {

bool TDisplayTimerClient::Add(int, bool, std::function<void()> callback, TComponent*) {
    FCallback = std::move(callback);
    return false;
}
void TDisplayTimerClient::SetInterval(int) {}
void TDisplayTimerClient::Suspend() {}
void TDisplayTimerClient::Resume() {}
void TDisplayTimerClient::Remove() {
    FClient = nullptr;
}

} // namespace tunefold
