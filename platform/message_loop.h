// The GUI thread and its messages: message windows with a handler, posted messages, Synchronize,
// window-mode timers, and per-thread message queues for worker threads.
//
// The portable implementation uses std threads; the Qt program drives the same queue from its event
// loop (it installs a wake-up hook and calls ProcessMessages), so the engine behaves the same under
// Qt and in tests. Deadlock rule: a worker that waits in Synchronize must never hold a lock that the
// GUI thread takes while it handles messages.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/wave_types.h"

namespace tunefold::platform {

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_DROPFILES = 0x0233;

class MessageWindow;

// The process's GUI message queue. One exists; the thread that first calls Gui() (or that calls
// BindToCurrentThread) is the GUI thread.
class MessageLoop {
public:
    static MessageLoop& Gui();

    // Makes the calling thread the GUI thread (the Qt program and tests call this at start).
    void BindToCurrentThread();
    bool IsGUIThread() const;
    std::thread::id GUIThreadId() const;

    // Runs `fn` on the GUI thread and waits for it; on the GUI thread it runs at once. An exception
    // thrown by `fn` is carried back to the caller.
    void Synchronize(const std::function<void()>& fn);

    // Runs every message posted so far (and every pending Synchronize); returns how many ran.
    int ProcessMessages();
    // Waits up to `timeoutMs` for a message, then processes what is pending. True when any ran.
    bool WaitAndProcess(long timeoutMs);
    // Processes messages until `done()` holds or `timeoutMs` passes; true when `done()` held.
    bool ProcessUntil(const std::function<bool()>& done, long timeoutMs);

    // Called (from any thread) whenever something is queued: the Qt program wakes its loop here.
    void SetWakeHook(std::function<void()> hook);

    // Number of queued messages (tests).
    std::size_t PendingCount();

private:
    friend class MessageWindow;
    struct Message {
        MessageWindow* window; // null for a synchronize request
        std::uint64_t windowSerial;
        UINT msg;
        WPARAM wParam;
        LPARAM lParam;
        std::function<void()> call;
    };
    MessageLoop();
    void Enqueue(Message m);
    void RemoveFor(const MessageWindow* window, UINT first, UINT last, bool all);
    bool RunOne(std::unique_lock<std::mutex>& lock);

    mutable std::mutex mutex_;
    std::condition_variable cond_;
    std::deque<Message> queue_;
    std::thread::id guiThread_;
    std::function<void()> wakeHook_;
    std::vector<MessageWindow*> windows_;
    std::uint64_t nextSerial_ = 1;
};

// A hidden window: receives posted messages on the GUI thread through its handler. It may be
// destroyed with messages still queued; those are dropped.
class MessageWindow {
public:
    using Handler = std::function<LRESULT(UINT msg, WPARAM wParam, LPARAM lParam)>;
    explicit MessageWindow(Handler handler);
    ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    // From any thread; false once the window is being destroyed.
    bool Post(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
    // Drops queued messages with first <= msg <= last.
    void RemovePending(UINT first, UINT last);
    // Calls the handler now (on the calling thread).
    LRESULT Send(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
    std::uintptr_t Handle() const { return handle_; }

    // Window-mode timer: posts WM_TIMER with wParam = id every `periodMs` while no earlier WM_TIMER
    // of that id is still queued. Setting an existing id restarts it.
    void SetTimer(UINT id, UINT periodMs);
    void KillTimer(UINT id);

private:
    friend class MessageLoop;
    struct TimerState;
    Handler handler_;
    std::uintptr_t handle_;
    std::uint64_t serial_;
    std::vector<std::shared_ptr<TimerState>> timers_;
    std::mutex timersMutex_;
};

// The message queue of a worker thread: post from anywhere, peek or wait on the owning thread.
class ThreadMessageQueue {
public:
    struct Message {
        UINT msg;
        WPARAM wParam;
        LPARAM lParam;
    };
    void Post(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
    // Queues without waking the owner: for a sender that knows more messages follow at once and
    // wakes the owner once for all of them with Wake(). Waking a thread costs far more than
    // handing it a message, and an owner woken per message may run before the next one is queued.
    void PostQuiet(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
    // Wakes the owner if messages were queued quietly since it was last woken.
    void Wake();
    bool Peek(Message& out);
    // Threads blocked in Wait now (for tests that must post to a sleeping owner).
    int Waiters();
    // Waits up to `timeoutMs` (negative: forever) for a message; true when one was taken.
    bool Wait(Message& out, long timeoutMs);
    void Clear();

private:
    std::mutex mutex_;
    std::condition_variable cond_;
    std::deque<Message> queue_;
    bool unwoken_ = false; // messages were queued quietly and no one was woken for them
    int waiters_ = 0;      // threads inside Wait: a notification with no one waiting is skipped
};

} // namespace tunefold::platform
