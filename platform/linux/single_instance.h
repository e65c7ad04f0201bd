// The single-instance service on Linux: abstract Unix sockets, which the kernel removes with the last
// descriptor, so a crashed instance never leaves a stale name behind.
//
// The mutex is a bound (not listening) socket name. A window endpoint is a listening socket named
// after its handle, served by one thread of its own that polls the socket, the connections being
// read and a wake-up descriptor (for a bounded shutdown). Each connection carries one message frame;
// the endpoint answers with one byte once the message is queued for the GUI thread, so a post
// succeeds only when the message really arrived. The peer's user id (SO_PEERCRED) is checked before
// anything is read.
//
// Names are "tunefold-<uid>-<scope>/mutex/<name>" and "tunefold-<uid>-<scope>/window/<handle>".
// The scope is derived from the settings store's path: instances that share a store are one
// program to the user, and test runs with folders of their own never see each other.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "platform/single_instance.h"

namespace tunefold::platform {

class LinuxSingleInstance : public SingleInstanceService {
public:
    // `nameUid` is the user id the names are made for (the own one, except in tests that post to
    // another user's windows).
    LinuxSingleInstance(std::uint32_t nameUid, std::string scope);

    static std::uint32_t OwnUid();
    // A short hex digest of the settings store's path.
    static std::string DefaultScope();

    std::unique_ptr<NamedMutex> CreateMutex(std::string_view name) override;
    std::unique_ptr<WindowEndpoint> Listen(WindowMessageHandler handler) override;
    bool PostToWindow(WindowHandle handle, UINT msg, WPARAM wParam, LPARAM lParam,
                      std::string_view payload) override;

    // How long a post waits for the endpoint's answer (default 2 s), and how long an endpoint waits
    // for a connection's frame before it drops it (default 1 s).
    void SetPostTimeout(std::chrono::milliseconds timeout) { postTimeout_ = timeout; }
    void SetReadTimeout(std::chrono::milliseconds timeout) { readTimeout_ = timeout; }
    std::chrono::milliseconds ReadTimeout() const { return readTimeout_; }

    // Connections refused for their user id, over all endpoints of this service.
    int RefusedCount() const { return refused_.load(); }
    void CountRefusal() { refused_.fetch_add(1); }

    std::string MutexName(std::string_view name) const;
    std::string WindowName(WindowHandle handle) const;

private:
    std::string prefix_;
    std::chrono::milliseconds postTimeout_{2000};
    std::chrono::milliseconds readTimeout_{1000};
    std::atomic<int> refused_{0};
};

} // namespace tunefold::platform
