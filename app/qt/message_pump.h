// Drives the platform message loop (posted messages, Synchronize requests, window-mode timers) from
// Qt's event loop, so the engine's GUI-thread work runs between Qt's own events on the one GUI
// thread. Whenever something is queued the loop calls our wake hook, from whatever thread queued it;
// the hook posts one queued call to this object, which runs ProcessMessages on the GUI thread. A
// flood of wake-ups between two runs costs one Qt event, not one per message.
#pragma once

#include <QObject>

#include <atomic>
#include <memory>

namespace tunefold::qt {

class MessagePump : public QObject {
public:
    // Binds the platform's GUI message loop to the calling thread (which must be the Qt GUI thread)
    // and installs the wake hook. Messages already queued run on the next turn of the event loop.
    explicit MessagePump(QObject* parent = nullptr);
    // Removes the hook; a wake-up already posted is dropped with this object.
    ~MessagePump() override;
    MessagePump(const MessagePump&) = delete;
    MessagePump& operator=(const MessagePump&) = delete;

    // How often the pump has run ProcessMessages (tests use it to see coalescing).
    int Runs() const { return runs_.load(); }

private:
    void Wake();
    void Run();

    // Shared with the hook: it outlives this object while a worker may still be inside the hook.
    struct State;
    std::shared_ptr<State> state_;
    std::atomic<int> runs_{0};
};

} // namespace tunefold::qt
