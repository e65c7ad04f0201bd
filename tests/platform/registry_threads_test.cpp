// Threads of one process writing through the registry at the same time lose no value, in either store.
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "platform/linux/registry_file_store.h"
#include "platform/registry.h"
#include "platform/virtual/virtual_registry.h"
#include "support/test_env.h"

namespace tunefold::platform {
namespace {

void WriteFromThreads(int threads, int perThread) {
    std::vector<std::thread> writers;
    std::vector<int> failures(static_cast<std::size_t>(threads), 0);
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([t, perThread, &failures] {
            for (int i = 0; i < perThread; ++i) {
                RegistryKey key;
                bool ok = key.Open(HKEY_CURRENT_USER, "Software\\Threads", true) &&
                          key.WriteInteger("t" + std::to_string(t) + "-" + std::to_string(i),
                                           static_cast<DWORD>(i));
                failures[static_cast<std::size_t>(t)] += ok ? 0 : 1;
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    for (int f : failures) {
        EXPECT_EQ(f, 0);
    }
}

void ExpectAll(RegistryStore& store, int threads, int perThread) {
    RegistryTree tree;
    ASSERT_TRUE(store.Load(tree));
    const auto& values = tree.keys.at("HKEY_CURRENT_USER\\Software\\Threads");
    EXPECT_EQ(values.size(), static_cast<std::size_t>(threads * perThread));
    for (int t = 0; t < threads; ++t) {
        for (int i = 0; i < perThread; ++i) {
            auto it = values.find("t" + std::to_string(t) + "-" + std::to_string(i));
            ASSERT_NE(it, values.end());
            EXPECT_EQ(it->second, RegistryValue::Integer(static_cast<DWORD>(i)));
        }
    }
}

TEST(RegistryThreads, FileStoreSerialisesWritersOfOneProcess) {
    auto store = std::make_shared<FileRegistryStore>((test::Sandbox() / "threads" / "registry.reg").string());
    InstallRegistryStore(store);
    WriteFromThreads(3, 150);
    InstallRegistryStore(nullptr);
    ExpectAll(*store, 3, 150);
}

TEST(RegistryThreads, VirtualStoreSerialisesWriters) {
    auto store = std::make_shared<VirtualRegistryStore>();
    InstallRegistryStore(store);
    WriteFromThreads(4, 250);
    InstallRegistryStore(nullptr);
    ExpectAll(*store, 4, 250);
}

} // namespace
} // namespace tunefold::platform
