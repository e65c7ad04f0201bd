#include "app/qt/message_pump.h"

#include <QMetaObject>

#include <mutex>

#include "platform/message_loop.h"

namespace tunefold::qt {

// The hook may be called by a worker at the very moment the pump is destroyed on the GUI thread. The
// hook holds this state, not the pump: the mutex keeps the pump alive while a wake-up is being posted,
// and `pump` is cleared before the pump goes.
struct MessagePump::State {
    std::mutex mutex;
    MessagePump* pump = nullptr;
    // True from a posted wake-up until its run begins: later wake-ups in between post nothing.
    std::atomic<bool> posted{false};
};

MessagePump::MessagePump(QObject* parent) : QObject(parent), state_(std::make_shared<State>()) {
    state_->pump = this;
    platform::MessageLoop& loop = platform::MessageLoop::Gui();
    loop.BindToCurrentThread();
    std::weak_ptr<State> weak = state_;
    loop.SetWakeHook([weak] {
        if (std::shared_ptr<State> state = weak.lock()) {
            std::lock_guard lock(state->mutex);
            if (state->pump != nullptr) {
                state->pump->Wake();
            }
        }
    });
    if (loop.PendingCount() > 0) {
        Wake();
    }
}

MessagePump::~MessagePump() {
    platform::MessageLoop::Gui().SetWakeHook(nullptr);
    std::lock_guard lock(state_->mutex);
    state_->pump = nullptr;
}

void MessagePump::Wake() {
    if (state_->posted.exchange(true)) {
        return;
    }
    // Queued to this object's thread; dropped by Qt if the object is gone by then.
    QMetaObject::invokeMethod(
        this, [this] { Run(); }, Qt::QueuedConnection);
}

void MessagePump::Run() {
    // Cleared before running: a message queued while we run wakes us again instead of being left
    // behind until some unrelated wake-up.
    state_->posted.store(false);
    ++runs_;
    platform::MessageLoop::Gui().ProcessMessages();
}

} // namespace tunefold::qt
