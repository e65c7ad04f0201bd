// The registry kept in memory: what tests and headless runs use, so nothing they do reaches the
// user's real settings. It can be told to fail, as an unreadable or unwritable store would.
#pragma once

#include <mutex>

#include "platform/registry.h"

namespace tunefold::platform {

class VirtualRegistryStore : public RegistryStore {
public:
    bool Load(RegistryTree& tree) override;
    bool Update(const std::function<bool(RegistryTree&)>& change, RegistryTree& tree) override;

    // While set, every load (and so every open) fails.
    void SetReadFails(bool fails);
    // While set, every update fails and leaves the tree as it was.
    void SetWriteFails(bool fails);
    // What the store holds now; replacing it stands for another process writing.
    RegistryTree Tree() const;
    void SetTree(RegistryTree tree);
    // Number of updates that were stored.
    int WriteCount() const;

private:
    mutable std::mutex mutex_;
    RegistryTree tree_;
    bool readFails_ = false;
    bool writeFails_ = false;
    int writes_ = 0;
};

} // namespace tunefold::platform
