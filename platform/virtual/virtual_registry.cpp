#include "platform/virtual/virtual_registry.h"

namespace tunefold::platform {

bool VirtualRegistryStore::Load(RegistryTree& tree) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (readFails_) {
        return false;
    }
    tree = tree_;
    return true;
}

bool VirtualRegistryStore::Update(const std::function<bool(RegistryTree&)>& change, RegistryTree& tree) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (readFails_ || writeFails_) {
        return false;
    }
    RegistryTree next = tree_;
    if (!change(next)) {
        return false;
    }
    tree_ = next;
    ++writes_;
    tree = std::move(next);
    return true;
}

void VirtualRegistryStore::SetReadFails(bool fails) {
    std::lock_guard<std::mutex> lock(mutex_);
    readFails_ = fails;
}

void VirtualRegistryStore::SetWriteFails(bool fails) {
    std::lock_guard<std::mutex> lock(mutex_);
    writeFails_ = fails;
}

RegistryTree VirtualRegistryStore::Tree() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tree_;
}

void VirtualRegistryStore::SetTree(RegistryTree tree) {
    std::lock_guard<std::mutex> lock(mutex_);
    tree_ = std::move(tree);
}

int VirtualRegistryStore::WriteCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
}

} // namespace tunefold::platform
