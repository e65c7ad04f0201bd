#include "platform/virtual/virtual_single_instance.h"

namespace tunefold::platform {

struct VirtualSingleInstance::State {
    mutable std::mutex mutex;
    std::set<std::string> mutexes;
    std::map<WindowHandle, GuiDelivery*> endpoints;
    std::set<WindowHandle> unresponsive;
    WindowHandle nextHandle = 0x2000;
    int posts = 0;
    int refused = 0;
};

class VirtualSingleInstance::Mutex : public NamedMutex {
public:
    Mutex(std::shared_ptr<State> state, std::string name, bool existed)
        : state_(std::move(state)), name_(std::move(name)), existed_(existed) {}
    ~Mutex() override {
        if (!existed_) {
            std::lock_guard lock(state_->mutex);
            state_->mutexes.erase(name_);
        }
    }
    bool AlreadyExisted() const override { return existed_; }

private:
    std::shared_ptr<State> state_;
    std::string name_;
    bool existed_;
};

class VirtualSingleInstance::Endpoint : public WindowEndpoint {
public:
    Endpoint(std::shared_ptr<State> state, WindowHandle handle, WindowMessageHandler handler)
        : state_(std::move(state)), handle_(handle), delivery_(std::move(handler)) {
        std::lock_guard lock(state_->mutex);
        state_->endpoints[handle_] = &delivery_;
    }
    ~Endpoint() override {
        std::lock_guard lock(state_->mutex);
        state_->endpoints.erase(handle_);
        state_->unresponsive.erase(handle_);
    }
    WindowHandle Handle() const override { return handle_; }

private:
    std::shared_ptr<State> state_;
    WindowHandle handle_;
    GuiDelivery delivery_;
};

VirtualSingleInstance::VirtualSingleInstance() : state_(std::make_shared<State>()) {}

VirtualSingleInstance::~VirtualSingleInstance() = default;

std::unique_ptr<NamedMutex> VirtualSingleInstance::CreateMutex(std::string_view name) {
    std::lock_guard lock(state_->mutex);
    const bool existed = !state_->mutexes.insert(std::string(name)).second;
    return std::make_unique<Mutex>(state_, std::string(name), existed);
}

std::unique_ptr<WindowEndpoint> VirtualSingleInstance::Listen(WindowMessageHandler handler) {
    WindowHandle handle = 0;
    {
        std::lock_guard lock(state_->mutex);
        handle = state_->nextHandle++;
    }
    return std::make_unique<Endpoint>(state_, handle, std::move(handler));
}

bool VirtualSingleInstance::PostToWindow(WindowHandle handle, UINT msg, WPARAM wParam, LPARAM lParam,
                                         std::string_view payload) {
    return PostToWindowAs(ownUid_, handle, msg, wParam, lParam, payload);
}

bool VirtualSingleInstance::PostToWindowAs(std::uint32_t uid, WindowHandle handle, UINT msg, WPARAM wParam,
                                           LPARAM lParam, std::string_view payload) {
    // Delivered under the table's lock, so an endpoint cannot go away in between; Deliver only
    // queues and never calls back into this object.
    std::lock_guard lock(state_->mutex);
    ++state_->posts;
    auto it = state_->endpoints.find(handle);
    if (it == state_->endpoints.end() || payload.size() > MaxPostPayload) {
        return false;
    }
    if (!PeerMayPost(uid, ownUid_)) {
        ++state_->refused;
        return false;
    }
    if (state_->unresponsive.count(handle) != 0) {
        return false;
    }
    it->second->Deliver({msg, wParam, lParam, std::string(payload)});
    return true;
}

int VirtualSingleInstance::PostCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->posts;
}

int VirtualSingleInstance::RefusedCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->refused;
}

bool VirtualSingleInstance::Listening(WindowHandle handle) const {
    std::lock_guard lock(state_->mutex);
    return state_->endpoints.count(handle) != 0;
}

void VirtualSingleInstance::SetUnresponsive(WindowHandle handle, bool unresponsive) {
    std::lock_guard lock(state_->mutex);
    if (unresponsive) {
        state_->unresponsive.insert(handle);
    } else {
        state_->unresponsive.erase(handle);
    }
}

} // namespace tunefold::platform
