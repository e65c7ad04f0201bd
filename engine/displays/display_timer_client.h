// A display's membership of the process-wide 25 ms display timer: added at creation, suspended
// and resumed as the display's peaks need it, removed at destruction. The callback runs on the
// timer's thread; it may only touch state the display keeps for it in atomics.
#pragma once

#include <functional>

namespace tunefold {

class TComponent;
struct TMMTimerClient;

class TDisplayTimerClient {
public:
    TDisplayTimerClient() = default;
    ~TDisplayTimerClient() { Remove(); }
    TDisplayTimerClient(const TDisplayTimerClient&) = delete;
    TDisplayTimerClient& operator=(const TDisplayTimerClient&) = delete;

    // False when the shared timer could not start: the display then runs without the refresh.
    bool Add(int intervalMs, bool suspended, std::function<void()> callback, TComponent* component);
    void SetInterval(int intervalMs);
    void Suspend();
    void Resume();
    void Remove();
    bool IsAdded() const { return FClient != nullptr; }

private:
    TMMTimerClient* FClient = nullptr;
    std::function<void()> FCallback;
};

} // namespace tunefold
