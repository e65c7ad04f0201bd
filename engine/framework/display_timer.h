// The shared display timer: one periodic 25 ms platform timer per process that serves any number
// of clients (meters, spectrum, connector), each with its own interval and a suspend count. Client
// callbacks run on the timer thread inside the timer's critical section, so they must not wait for
// the GUI thread. While no client is due to be called (each suspended or resting) the platform
// timer is stopped, so an idle player does not wake forty times a second; it starts again with
// the first client that resumes or wakes.
#pragma once

#include <functional>

#include "engine/framework/component.h"

namespace tunefold {

constexpr int kDisplayTimerPeriod = 25;

struct TMMTimerClient;
using PMMTimerClient = TMMTimerClient*;
using TMMTimerClientCallback = std::function<void(PMMTimerClient client, TComponent* component)>;

struct TMMTimerClient {
    int Interval; // milliseconds, at least kDisplayTimerPeriod
    TComponent* Component;
    TMMTimerClientCallback Callback;
    int SuspendCount;
    int Elapsed; // milliseconds counted since the last call
    TMMTimerClient* Next;
    bool Removed;         // removed from inside a tick; freed when the tick ends
    bool Resting = false; // nothing to do until woken
};

// Adds a client (suspended: 0 or 1); with the first one the 25 ms timer starts. Returns nullptr when
// the timer cannot start, and the caller goes on without refresh.
PMMTimerClient AddTimerClient(int interval, int suspended, TMMTimerClientCallback callback,
                              TComponent* component);
void SetTimerClientInterval(PMMTimerClient client, int interval);
void SuspendTimerClient(PMMTimerClient client);
void ResumeTimerClient(PMMTimerClient client);
// A client with nothing to do for now (a meter whose peaks have all fallen) rests: it is not
// called until it is woken, and then counts its interval from the wake.
void RestTimerClient(PMMTimerClient client);
void WakeTimerClient(PMMTimerClient client);
// Unlinks and frees the client; with the last one gone the 25 ms timer stops.
void RemoveTimerClient(PMMTimerClient client);

// ---- state, for tests and diagnostics ----
int TimerClientCount();
bool DisplayTimerRunning();

} // namespace tunefold
