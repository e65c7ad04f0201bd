// One running player per user: the named mutex that a second process finds already taken, and the
// window endpoints through which a second start wakes the running main window with a posted message.
//
// A window handle is a decimal number, unique among the live windows of all processes of one user,
// so it can be written into the settings store (the `WH` value) and read back by another process.
// Posting to a handle is a connect-and-send: it succeeds only when a live endpoint of that handle
// took the message; a handle nobody listens on fails, as a post to a dead window does. Only the
// same user may post; anything else is refused and the poster sees a failure.
//
// Messages reach the endpoint's handler on the GUI thread (through MessageLoop), in the order they
// arrived. Two backends: the real one (abstract Unix sockets, platform/linux/) and an in-process one
// for tests (platform/virtual/). The process uses the real one unless another is installed.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/message_loop.h"

namespace tunefold::platform {

using WindowHandle = std::uint64_t;

// The biggest payload a post may carry: a path and some room.
constexpr std::size_t MaxPostPayload = 64 * 1024;

struct WindowMessage {
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::string payload;
};

// A named mutex held for as long as this object lives (the process's life, in the player).
class NamedMutex {
public:
    virtual ~NamedMutex() = default;
    // True when another holder had the name already: this object then holds nothing.
    virtual bool AlreadyExisted() const = 0;
};

// A window that can be posted to from other processes. It listens from construction until it is
// destroyed; messages still queued for the GUI thread at that time are dropped.
class WindowEndpoint {
public:
    virtual ~WindowEndpoint() = default;
    virtual WindowHandle Handle() const = 0;
};

using WindowMessageHandler = std::function<void(const WindowMessage&)>;

// Hands messages that arrive on any thread to a handler on the GUI thread, one at a time and in
// arrival order. Both backends deliver through it.
class GuiDelivery {
public:
    explicit GuiDelivery(WindowMessageHandler handler);
    ~GuiDelivery();
    GuiDelivery(const GuiDelivery&) = delete;
    GuiDelivery& operator=(const GuiDelivery&) = delete;
    // From any thread.
    void Deliver(WindowMessage message);

private:
    LRESULT OnPosted();

    WindowMessageHandler handler_;
    std::mutex mutex_;
    std::deque<WindowMessage> queue_;
    MessageWindow window_;
};

class SingleInstanceService {
public:
    virtual ~SingleInstanceService() = default;
    // Takes the mutex `name` (or finds it taken). Null only when the platform could not make one at
    // all; the caller then runs as if it were the only instance.
    virtual std::unique_ptr<NamedMutex> CreateMutex(std::string_view name) = 0;
    // A new endpoint whose messages go to `handler` on the GUI thread. Null when none can be made.
    virtual std::unique_ptr<WindowEndpoint> Listen(WindowMessageHandler handler) = 0;
    // True once the endpoint `handle` has taken the message; false for a handle nobody listens on,
    // a refusal, or a payload over MaxPostPayload.
    virtual bool PostToWindow(WindowHandle handle, UINT msg, WPARAM wParam, LPARAM lParam,
                              std::string_view payload) = 0;
};

// The service in force: the one installed with SetSingleInstance, else the real one. The real one
// serves the virtual platform too: it needs no hardware, its names are scoped to the settings store
// (so test runs with folders of their own never meet), and a second process of a headless run must
// be able to find the first.
SingleInstanceService& SingleInstance();
// Installs `service` (nullptr: back to the real one) and returns the one installed before. The
// caller keeps ownership and restores the old one before `service` goes away.
SingleInstanceService* SetSingleInstance(SingleInstanceService* service);

class ScopedSingleInstance {
public:
    explicit ScopedSingleInstance(SingleInstanceService& service) : previous_(SetSingleInstance(&service)) {}
    ~ScopedSingleInstance() { SetSingleInstance(previous_); }
    ScopedSingleInstance(const ScopedSingleInstance&) = delete;
    ScopedSingleInstance& operator=(const ScopedSingleInstance&) = delete;

private:
    SingleInstanceService* previous_;
};

// Whether a peer with user id `peerUid` may post to the windows of `ownUid`: only the same user.
inline bool PeerMayPost(std::uint32_t peerUid, std::uint32_t ownUid) {
    return peerUid == ownUid;
}

// Decimal text of a handle, as `WH` holds it, and the reverse: the whole text must be a decimal
// number without sign or spaces that fits; anything else gives 0 (no window).
std::string WindowHandleText(WindowHandle handle);
WindowHandle ParseWindowHandle(std::string_view text);

} // namespace tunefold::platform
