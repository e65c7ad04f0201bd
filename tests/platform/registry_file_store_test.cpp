// The per-user store file: private, never torn, never losing another process's values, and never
// destroying a file it cannot read.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/linux/registry_file_store.h"
#include "platform/registry_file.h"
#include "support/test_env.h"

namespace tunefold::platform {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::vector<fs::path> BrokenCopies(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind("registry.reg.broken-", 0) == 0) {
            found.push_back(entry.path());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

// Exit status of a child, or 128 + the signal that ended it.
int WaitChild(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

pid_t StartChild(const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) {
        int rc = 99;
        try {
            rc = body();
        } catch (...) {
        }
        ::_exit(rc);
    }
    return pid;
}

class FileRegistryStoreTest : public testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        folder = test::Sandbox() / ("store-" + std::to_string(++serial)) / "tunefold";
        path = folder / "registry.reg";
        store = std::make_shared<FileRegistryStore>(path.string());
        InstallRegistryStore(store);
    }
    void TearDown() override { InstallRegistryStore(nullptr); }

    RegistryTree Load() {
        RegistryTree tree;
        EXPECT_TRUE(store->Load(tree));
        return tree;
    }

    fs::path folder;
    fs::path path;
    std::shared_ptr<FileRegistryStore> store;
};

TEST_F(FileRegistryStoreTest, StoreIsPrivateToTheUserWhateverTheUmask) {
    mode_t old = ::umask(0); // the loosest umask a user can have
    RegistryKey key;
    bool opened = key.Open(HKEY_CURRENT_USER, "Software\\Brenvik\\Tunefold\\2.0", true);
    ::umask(old);
    ASSERT_TRUE(opened);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);

    // A store someone made readable for all is made private again by the next write.
    ::chmod(path.c_str(), 0644);
    ASSERT_TRUE(key.WriteString("WH", "1"));
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    // The text on disk is the layout a person can read.
    EXPECT_EQ(ReadFile(path).rfind("REGEDIT4\n", 0), 0u);
    EXPECT_NE(ReadFile(path).find("[HKEY_CURRENT_USER\\Software\\Brenvik\\Tunefold\\2.0]\n\"WH\"=\"1\"\n"),
              std::string::npos);
}

TEST_F(FileRegistryStoreTest, EachOpenReadsTheFileAfresh) {
    RegistryKey key;
    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, "Software\\T", true));
    ASSERT_TRUE(key.WriteString("WH", "1"));
    // Another program edits the file: the next open sees it, nothing was cached.
    std::string text = ReadFile(path);
    text.replace(text.find("\"1\""), 3, "\"77\"");
    WriteFile(path, text);
    RegistryKey again;
    ASSERT_TRUE(again.Open(HKEY_CURRENT_USER, "Software\\T", false));
    std::string value;
    ASSERT_TRUE(again.ReadString("WH", value));
    EXPECT_EQ(value, "77");
}

TEST_F(FileRegistryStoreTest, UnparsableStoreReadsAsEmptyAndIsKeptAside) {
    fs::create_directories(folder);
    const std::string garbage = "this is not a registry\n\x01\x02 but it is the user's file\n";
    WriteFile(path, garbage);

    RegistryKey key;
    EXPECT_FALSE(key.Open(HKEY_CURRENT_USER, "Software\\T", false)); // reads as empty: no key
    auto broken = BrokenCopies(folder);
    ASSERT_EQ(broken.size(), 1u);
    EXPECT_EQ(ReadFile(broken[0]), garbage);
    EXPECT_FALSE(fs::exists(path));

    // The next write starts a new store and leaves the kept copy alone.
    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, "Software\\T", true));
    ASSERT_TRUE(key.WriteString("WH", "5"));
    EXPECT_EQ(ReadFile(broken[0]), garbage);
    EXPECT_EQ(Load().keys.at("HKEY_CURRENT_USER\\Software\\T").size(), 1u);

    // Broken again (often within the same second), and written to straight away without a read: a
    // second copy is kept beside the first, neither overwritten.
    WriteFile(path, "REGEDIT4\n[HKEY_CURRENT_USER\\T]\n\"torn");
    RegistryTree stored;
    ASSERT_TRUE(store->Update(
        [](RegistryTree& t) { return t.keys.emplace("HKEY_CURRENT_USER\\X", RegistryValues{}).second; },
        stored));
    broken = BrokenCopies(folder);
    ASSERT_EQ(broken.size(), 2u);
    EXPECT_EQ(ReadFile(broken[0]), garbage);
    EXPECT_EQ(ReadFile(broken[1]), "REGEDIT4\n[HKEY_CURRENT_USER\\T]\n\"torn");
    EXPECT_EQ(Load().keys.size(), 1u);
}

TEST_F(FileRegistryStoreTest, UnreadableStoreFailsAndIsNotTouched) {
    fs::create_directories(path / "inside"); // the store's name is taken by a folder
    RegistryTree tree;
    EXPECT_FALSE(store->Load(tree));
    RegistryKey key;
    EXPECT_FALSE(key.Open(HKEY_CURRENT_USER, "Software\\T", true));
    EXPECT_TRUE(fs::is_directory(path / "inside"));
    EXPECT_TRUE(BrokenCopies(folder).empty());
}

TEST_F(FileRegistryStoreTest, WriterGivesUpWhenTheLockIsNotReleasedInTime) {
    RegistryKey key;
    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, "Software\\T", true));
    ASSERT_TRUE(key.WriteString("WH", "1"));
    const std::string before = ReadFile(path);

    int held = ::open((path.string() + ".lock").c_str(), O_RDWR);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    store->SetLockTimeout(std::chrono::milliseconds(30));
    EXPECT_FALSE(key.WriteString("WH", "2"));
    EXPECT_EQ(ReadFile(path), before);
    ::close(held);
    EXPECT_TRUE(key.WriteString("WH", "2"));
}

TEST_F(FileRegistryStoreTest, DefaultPathFollowsTheConfigFolderRules) {
    std::string savedConfig = std::getenv("XDG_CONFIG_HOME");
    std::string savedHome = std::getenv("HOME");
    ::setenv("XDG_CONFIG_HOME", "/srv/cfg", 1);
    EXPECT_EQ(FileRegistryStore::DefaultPath(), "/srv/cfg/tunefold/registry.reg");
    ::setenv("HOME", "/home/someone", 1);
    for (const char* ignored : {"", "relative/cfg"}) {
        ::setenv("XDG_CONFIG_HOME", ignored, 1);
        EXPECT_EQ(FileRegistryStore::DefaultPath(), "/home/someone/.config/tunefold/registry.reg") << ignored;
    }
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(FileRegistryStore::DefaultPath(), "/home/someone/.config/tunefold/registry.reg");
    ::setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    ::setenv("HOME", savedHome.c_str(), 1);
}

TEST_F(FileRegistryStoreTest, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kPerProcess = 1000;
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::vector<pid_t> children;
    for (int id = 0; id < 2; ++id) {
        children.push_back(StartChild([&, id] {
            ::close(gate[1]);
            char c;
            while (::read(gate[0], &c, 1) < 0 && errno == EINTR) {
            } // both start when the gate closes
            for (int i = 0; i < kPerProcess; ++i) {
                RegistryKey key; // open per write, as the settings routines do
                if (!key.Open(HKEY_CURRENT_USER, "Software\\Race", true)) {
                    return 2;
                }
                if (!key.WriteInteger("p" + std::to_string(id) + "-" + std::to_string(i),
                                      static_cast<DWORD>(id * 100000 + i))) {
                    return 3;
                }
            }
            return 0;
        }));
    }
    ::close(gate[0]);
    ::close(gate[1]);
    for (pid_t child : children) {
        EXPECT_EQ(WaitChild(child), 0);
    }
    RegistryTree tree = Load();
    const auto& values = tree.keys.at("HKEY_CURRENT_USER\\Software\\Race");
    ASSERT_EQ(values.size(), 2u * kPerProcess);
    for (int id = 0; id < 2; ++id) {
        for (int i = 0; i < kPerProcess; ++i) {
            auto it = values.find("p" + std::to_string(id) + "-" + std::to_string(i));
            ASSERT_NE(it, values.end());
            EXPECT_EQ(it->second, RegistryValue::Integer(static_cast<DWORD>(id * 100000 + i)));
        }
    }
    EXPECT_TRUE(BrokenCopies(folder).empty());
}

TEST_F(FileRegistryStoreTest, WriterKilledAtAnyMomentNeverLeavesATornStore) {
    std::mt19937 random(20261209);
    std::map<std::string, std::size_t> written; // round prefix -> values seen after the kill
    constexpr int kRounds = 12;
    for (int round = 0; round < kRounds; ++round) {
        const std::string prefix = "r" + std::to_string(round) + "-";
        pid_t child = StartChild([&] {
            RegistryKey key;
            if (!key.Open(HKEY_CURRENT_USER, "Software\\Crash", true)) {
                return 2;
            }
            for (int i = 0; i < 100000; ++i) {
                // Big values make each write long, so the kill often lands inside one.
                if (!key.WriteString(prefix + std::to_string(i), std::string(4000, 'a' + i % 26))) {
                    return 3;
                }
            }
            return 0;
        });
        ASSERT_GT(child, 0);
        // Wait until the child is well into its writes, then kill it at a random point of one.
        const std::size_t target = 1 + random() % 20;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        std::size_t seen = 0;
        while (seen < target && std::chrono::steady_clock::now() < deadline) {
            // Readers take no lock, so every look at the file while it is being written must find
            // a whole store too.
            RegistryTree tree;
            if (round > 0 || fs::exists(path)) {
                ASSERT_TRUE(ParseRegistryFile(ReadFile(path), tree)) << "torn while being written";
            }
            seen = 0;
            auto key = tree.keys.find("HKEY_CURRENT_USER\\Software\\Crash");
            if (key != tree.keys.end()) {
                for (const auto& [name, value] : key->second) {
                    seen += name.rfind(prefix, 0) == 0;
                }
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ASSERT_GE(seen, target) << "the writer did not get going";
        std::atomic<unsigned> spin{static_cast<unsigned>(random() % 400000)};
        while (spin.fetch_sub(1) > 0) {
        }
        ::kill(child, SIGKILL);
        EXPECT_EQ(WaitChild(child), 128 + SIGKILL);

        RegistryTree tree;
        ASSERT_TRUE(ParseRegistryFile(ReadFile(path), tree)) << "round " << round;
        const auto& values = tree.keys.at("HKEY_CURRENT_USER\\Software\\Crash");
        // What earlier rounds wrote is all still there, and this round's writes are a prefix.
        std::size_t mine = 0;
        while (values.count(prefix + std::to_string(mine)) > 0) {
            ++mine;
        }
        EXPECT_GE(mine, target);
        written[prefix] = mine;
        std::size_t total = 0;
        for (const auto& [p, count] : written) {
            for (std::size_t i = 0; i < count; ++i) {
                ASSERT_EQ(values.count(p + std::to_string(i)), 1u) << p << i;
            }
            total += count;
        }
        EXPECT_EQ(values.size(), total);
    }
    EXPECT_TRUE(BrokenCopies(folder).empty());
}

} // namespace
} // namespace tunefold::platform
