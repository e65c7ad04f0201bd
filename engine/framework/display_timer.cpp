#include "engine/framework/display_timer.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "engine/framework/threads.h"
#include "platform/mm_timer.h"

namespace tunefold {

namespace {

// The process-wide state. The critical section lives as long as the process: a tick that already
// waits for it when the last client goes must still find it there.
struct SharedTimer {
    std::recursive_mutex cs;
    platform::TimerService* service = nullptr;
    platform::MMTimerId timerId = 0;
    TMMTimerClient* head = nullptr;
    int clients = 0;
    std::atomic<int> reentrance{0};
    int walking = 0;           // depth of the tick's walk (callbacks may call back into us)
    bool purgePending = false; // clients removed during a walk wait to be freed

    ~SharedTimer() {
        // At program end a timer that still runs is stopped.
        platform::MMTimerId id = 0;
        {
            std::lock_guard lock(cs);
            id = timerId;
            timerId = 0;
        }
        if (service != nullptr) {
            if (id != 0) {
                service->timeKillEvent(id);
            }
            service->timeEndPeriod(kDisplayTimerPeriod);
        }
        while (head != nullptr) {
            TMMTimerClient* next = head->Next;
            delete head;
            head = next;
        }
    }
};

SharedTimer& Shared() {
    platform::RealTimerService(); // the real service must outlive this state at exit
    static SharedTimer shared;
    return shared;
}

void Tick(platform::MMTimerId id);

bool IsListed(SharedTimer& s, PMMTimerClient client) {
    for (TMMTimerClient* c = s.head; c != nullptr; c = c->Next) {
        if (c == client) {
            return !c->Removed;
        }
    }
    return false;
}

bool AnyDue(const SharedTimer& s) {
    for (const TMMTimerClient* c = s.head; c != nullptr; c = c->Next) {
        if (!c->Removed && c->SuspendCount == 0 && !c->Resting) {
            return true;
        }
    }
    return false;
}

// Starts the stopped platform timer again when a client may be called. Without a timer the
// displays go on without their refresh, as when the first client could not start it.
void RestartIfDue(SharedTimer& s) {
    if (s.clients == 0 || s.timerId != 0 || s.service == nullptr || !AnyDue(s)) {
        return;
    }
    s.timerId = s.service->timeSetEvent(kDisplayTimerPeriod, 0, Tick, platform::TIME_PERIODIC);
}

// Frees the clients removed during a walk, once no walk is running.
void PurgeRemoved(SharedTimer& s) {
    if (s.walking > 0 || !s.purgePending) {
        return;
    }
    TMMTimerClient** link = &s.head;
    while (*link != nullptr) {
        TMMTimerClient* c = *link;
        if (c->Removed) {
            *link = c->Next;
            delete c;
        } else {
            link = &c->Next;
        }
    }
    s.purgePending = false;
}

void Tick(platform::MMTimerId /*id*/) {
    SharedTimer& s = Shared();
    if (s.reentrance.fetch_add(1) > 0) {
        s.reentrance.fetch_sub(1); // the previous tick still runs: skip this one
        return;
    }
    platform::TimerService* service = nullptr;
    platform::MMTimerId idle = 0;
    {
        std::lock_guard lock(s.cs);
        ++s.walking;
        for (TMMTimerClient* c = s.head; c != nullptr; c = c->Next) {
            if (c->Removed || c->SuspendCount != 0 || c->Resting) {
                continue;
            }
            c->Elapsed += kDisplayTimerPeriod;
            if (c->Elapsed >= c->Interval) {
                if (c->Callback) {
                    // A client that throws must not leave the walk half done: every later tick
                    // would be skipped as overlapping.
                    try {
                        c->Callback(c, c->Component);
                    } catch (...) {
                        HandleThreadException(std::current_exception());
                    }
                }
                c->Elapsed = 0;
            }
        }
        --s.walking;
        PurgeRemoved(s);
        if (s.walking == 0 && s.timerId != 0 && !AnyDue(s)) {
            // Nobody to call: the timer stops until a client resumes or wakes.
            service = s.service;
            idle = s.timerId;
            s.timerId = 0;
        }
    }
    if (idle != 0) {
        service->timeKillEvent(idle); // from inside its own tick the kill does not wait
    }
    s.reentrance.fetch_sub(1);
}

} // namespace

PMMTimerClient AddTimerClient(int interval, int suspended, TMMTimerClientCallback callback,
                              TComponent* component) {
    SharedTimer& s = Shared();
    std::lock_guard lock(s.cs);
    if (s.clients == 0) {
        platform::TimerService& service = platform::Timers();
        service.timeBeginPeriod(kDisplayTimerPeriod);
        const platform::MMTimerId id =
            service.timeSetEvent(kDisplayTimerPeriod, 0, Tick, platform::TIME_PERIODIC);
        if (id == 0) {
            service.timeEndPeriod(kDisplayTimerPeriod);
            return nullptr;
        }
        s.service = &service;
        s.timerId = id;
    }
    auto* client = new TMMTimerClient{std::max(interval, kDisplayTimerPeriod),
                                      component,
                                      std::move(callback),
                                      suspended != 0 ? 1 : 0,
                                      0,
                                      nullptr,
                                      false};
    TMMTimerClient** link = &s.head;
    while (*link != nullptr) {
        link = &(*link)->Next;
    }
    *link = client;
    ++s.clients;
    RestartIfDue(s); // the others may all be resting
    return client;
}

void SetTimerClientInterval(PMMTimerClient client, int interval) {
    SharedTimer& s = Shared();
    std::lock_guard lock(s.cs);
    if (s.clients == 0 || !IsListed(s, client)) {
        return;
    }
    client->Interval = std::max(interval, kDisplayTimerPeriod);
    client->Elapsed = 0;
}

void SuspendTimerClient(PMMTimerClient client) {
    SharedTimer& s = Shared();
    std::lock_guard lock(s.cs);
    if (s.clients == 0 || !IsListed(s, client)) {
        return;
    }
    ++client->SuspendCount;
    client->Elapsed = 0;
}

void ResumeTimerClient(PMMTimerClient client) {
    SharedTimer& s = Shared();
    std::lock_guard lock(s.cs);
    if (s.clients == 0 || !IsListed(s, client)) {
        return;
    }
    if (client->SuspendCount > 0) {
        --client->SuspendCount;
    }
    RestartIfDue(s);
}

void RestTimerClient(PMMTimerClient client) {
    SharedTimer& s = Shared();
    std::lock_guard lock(s.cs);
    if (s.clients == 0 || !IsListed(s, client)) {
        return;
    }
    client->Resting = true;
}

void WakeTimerClient(PMMTimerClient client) {
    SharedTimer& s = Shared();
    std::lock_guard lock(s.cs);
    if (s.clients == 0 || !IsListed(s, client) || !client->Resting) {
        return;
    }
    client->Resting = false;
    client->Elapsed = 0;
    RestartIfDue(s);
}

void RemoveTimerClient(PMMTimerClient client) {
    SharedTimer& s = Shared();
    platform::TimerService* service = nullptr;
    platform::MMTimerId id = 0;
    {
        std::lock_guard lock(s.cs);
        if (s.clients == 0 || !IsListed(s, client)) {
            return;
        }
        client->Removed = true;
        s.purgePending = true;
        PurgeRemoved(s); // inside a tick the client is freed when the walk ends
        if (--s.clients == 0) {
            service = s.service;
            id = s.timerId;
            s.timerId = 0;
            s.service = nullptr;
        }
    }
    // Killed outside the critical section: the kill waits for a running tick, and that tick may be
    // waiting for the critical section. From inside a tick the kill does not wait.
    if (service != nullptr) {
        if (id != 0) {
            service->timeKillEvent(id);
        }
        service->timeEndPeriod(kDisplayTimerPeriod);
    }
}

int TimerClientCount() {
    SharedTimer& s = Shared();
    std::lock_guard lock(s.cs);
    return s.clients;
}

bool DisplayTimerRunning() {
    SharedTimer& s = Shared();
    std::lock_guard lock(s.cs);
    return s.timerId != 0;
}

} // namespace tunefold
