// The registry on Linux: one text file per user, $XDG_CONFIG_HOME/tunefold/registry.reg (or
// ~/.config/tunefold/registry.reg), readable only by its owner.
//
// Readers take no lock: the file is only ever replaced by a rename, so a reader sees either the old or
// the new file whole. Writers serialise on an advisory lock (flock) on "registry.reg.lock" beside it,
// read the file fresh under that lock, change it, write "registry.reg.tmp", flush it and rename it over
// the store. So two processes never lose each other's values and a crash never leaves a torn store.
//
// A store that does not parse is someone else's text or damage we cannot repair: it reads as empty and
// is renamed to "registry.reg.broken-<UTC time>" (under the lock) before anything is written, so the
// user can still recover it.
#pragma once

#include <chrono>
#include <string>

#include "platform/registry.h"

namespace tunefold::platform {

class FileRegistryStore : public RegistryStore {
public:
    explicit FileRegistryStore(std::string path);

    // $XDG_CONFIG_HOME/tunefold/registry.reg; $HOME/.config/... when XDG_CONFIG_HOME is unset, empty
    // or not absolute; the password database's home when HOME is unset too.
    static std::string DefaultPath();

    const std::string& Path() const { return path_; }
    // How long a writer waits for another writer's lock before it gives up (default 10 s).
    void SetLockTimeout(std::chrono::milliseconds timeout) { lockTimeout_ = timeout; }

    bool Load(RegistryTree& tree) override;
    bool Update(const std::function<bool(RegistryTree&)>& change, RegistryTree& tree) override;

private:
    enum class ReadResult { Parsed, Missing, Broken, Failed };
    ReadResult ReadStore(RegistryTree& tree) const;
    // Called with the lock held: renames the unparsable store aside. False when it could not.
    bool KeepBrokenAside() const;
    bool MakeFolder() const;

    std::string path_;
    std::string folder_;
    std::string lockPath_;
    std::string tempPath_;
    std::chrono::milliseconds lockTimeout_{10000};
};

} // namespace tunefold::platform
