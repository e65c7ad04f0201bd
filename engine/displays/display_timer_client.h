// A display's membership of the process-wide 25 ms display timer: added at creation, suspended
// and resumed as the display's peaks need it, removed at destruction. The callback runs on the
// timer's thread; it may only touch state the display keeps for it in atomics.
#pragma once

#include <atomic>
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
    // From the callback, when the display has nothing left to do on the timer (its peaks have
    // fallen): the client rests until Wake, unless `busy` says there is work again by then.
    // Wake: after the display has given the timer work; cheap while the client is awake. Rest
    // looks at `busy` after it has rested and the display sets its work before Wake, so work set
    // while the callback decides to rest is never left standing.
    void RestUnless(const std::function<bool()>& busy);
    void Wake();
    void Remove();
    bool IsAdded() const { return FClient.load() != nullptr; }

private:
    // Atomic: the timer's thread can call back (and rest) before Add has stored what it returned.
    std::atomic<TMMTimerClient*> FClient{nullptr};
    std::function<void()> FCallback;
    std::atomic<bool> FResting{false};
};

} // namespace tunefold
