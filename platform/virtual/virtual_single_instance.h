// The single-instance service inside one process: mutex names and window endpoints in a table of
// this object, with the real service's rules (a post reaches a live endpoint only, from the same
// user only, and is delivered on the GUI thread). Tests of the start sequence run two "instances"
// against one of these.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/single_instance.h"

namespace tunefold::platform {

class VirtualSingleInstance : public SingleInstanceService {
public:
    VirtualSingleInstance();
    ~VirtualSingleInstance() override;

    std::unique_ptr<NamedMutex> CreateMutex(std::string_view name) override;
    std::unique_ptr<WindowEndpoint> Listen(WindowMessageHandler handler) override;
    bool PostToWindow(WindowHandle handle, UINT msg, WPARAM wParam, LPARAM lParam,
                      std::string_view payload) override;

    // A post as another user would make it (refused unless `uid` is OwnUid()).
    bool PostToWindowAs(std::uint32_t uid, WindowHandle handle, UINT msg, WPARAM wParam, LPARAM lParam,
                        std::string_view payload);
    std::uint32_t OwnUid() const { return ownUid_; }

    // Every post tried, and those refused for their user id.
    int PostCount() const;
    int RefusedCount() const;
    // True while an endpoint of `handle` listens.
    bool Listening(WindowHandle handle) const;
    // From now on, the endpoint `handle` answers no post (as a window that hangs until the poster
    // gives up); cleared when the endpoint goes.
    void SetUnresponsive(WindowHandle handle, bool unresponsive);

private:
    struct State;
    class Mutex;
    class Endpoint;
    std::shared_ptr<State> state_;
    std::uint32_t ownUid_ = 1000;
};

} // namespace tunefold::platform
