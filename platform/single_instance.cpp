#include "platform/single_instance.h"

#include <atomic>
#include <charconv>

#include "platform/linux/single_instance.h"

namespace tunefold::platform {

GuiDelivery::GuiDelivery(WindowMessageHandler handler)
    : handler_(std::move(handler)), window_([this](UINT, WPARAM, LPARAM) { return OnPosted(); }) {}

GuiDelivery::~GuiDelivery() = default;

void GuiDelivery::Deliver(WindowMessage message) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(message));
    }
    // One posted message per queued one, so each runs the handler once and in order.
    window_.Post(WM_USER);
}

LRESULT GuiDelivery::OnPosted() {
    WindowMessage message;
    {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) {
            return 0;
        }
        message = std::move(queue_.front());
        queue_.pop_front();
    }
    if (handler_) {
        handler_(message);
    }
    return 0;
}

namespace {
std::atomic<SingleInstanceService*> installed{nullptr};
} // namespace

SingleInstanceService& SingleInstance() {
    if (SingleInstanceService* service = installed.load()) {
        return *service;
    }
    static LinuxSingleInstance real(LinuxSingleInstance::OwnUid(), LinuxSingleInstance::DefaultScope());
    return real;
}

SingleInstanceService* SetSingleInstance(SingleInstanceService* service) {
    return installed.exchange(service);
}

std::string WindowHandleText(WindowHandle handle) {
    return std::to_string(handle);
}

WindowHandle ParseWindowHandle(std::string_view text) {
    WindowHandle value = 0;
    const char* first = text.data();
    const char* last = first + text.size();
    if (text.empty() || text.front() < '0' || text.front() > '9') {
        return 0;
    }
    auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last) {
        return 0;
    }
    return value;
}

} // namespace tunefold::platform
