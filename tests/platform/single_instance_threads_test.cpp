// The real single-instance service: abstract Unix sockets between threads and between processes.
#include "platform/linux/single_instance.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/devices/wave_out_fixture.h"

namespace tunefold::platform {
namespace {

std::string UniqueScope() {
    static int serial = 0;
    return "test-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
}

// Waits (bounded) for the child and returns its exit code, or -1 when it did not exit normally.
int ExitCodeOf(pid_t child) {
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// In a child: the handle the parent sends through `fd`, 0 when none comes within 10 s.
WindowHandle ReceiveHandle(int fd) {
    pollfd p{fd, POLLIN, 0};
    WindowHandle handle = 0;
    if (::poll(&p, 1, 10000) != 1 || ::read(fd, &handle, sizeof handle) != sizeof handle) {
        return 0;
    }
    return handle;
}

struct Received {
    std::vector<std::string> payloads;
    bool allOnGuiThread = true;
    WindowMessageHandler Handler() {
        return [this](const WindowMessage& m) {
            payloads.push_back(m.payload);
            allOnGuiThread = allOnGuiThread && MessageLoop::Gui().IsGUIThread() && m.msg == WM_USER;
        };
    }
};

TEST(SingleInstanceSockets, PostsFromManyThreadsArriveInOrderOnTheGuiThread) {
    LinuxSingleInstance service(LinuxSingleInstance::OwnUid(), UniqueScope());
    Received received;
    auto endpoint = service.Listen(received.Handler());
    ASSERT_TRUE(endpoint);
    const WindowHandle handle = endpoint->Handle();
    EXPECT_EQ(ParseWindowHandle(WindowHandleText(handle)), handle);

    constexpr int kPerThread = 20;
    std::atomic<int> failed{0};
    std::vector<std::thread> posters;
    for (int t = 0; t < 2; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                std::string payload =
                    std::to_string(t) + ":" + std::to_string(i) + std::string(t * 3000, 'x');
                if (!service.PostToWindow(handle, WM_USER, 0, 0, payload)) {
                    failed.fetch_add(1);
                }
            }
        });
    }
    for (auto& p : posters) {
        p.join();
    }
    EXPECT_EQ(failed.load(), 0);
    ASSERT_TRUE(test::PumpUntil([&] { return received.payloads.size() == 2 * kPerThread; }));
    EXPECT_TRUE(received.allOnGuiThread);
    int next[2] = {0, 0};
    for (const std::string& p : received.payloads) {
        const int t = p[0] - '0';
        EXPECT_EQ(p.substr(2, p.find_first_not_of("0123456789", 2) - 2), std::to_string(next[t]++))
            << "each poster's messages keep their order";
    }

    EXPECT_FALSE(service.PostToWindow(handle + 1, WM_USER, 0, 0, "path:")) << "nobody listens there";
    EXPECT_FALSE(service.PostToWindow(handle, WM_USER, 0, 0, std::string(MaxPostPayload + 1, 'x')));
    EXPECT_TRUE(service.PostToWindow(handle, WM_USER, 0, 0, std::string(MaxPostPayload, 'y')));
    endpoint.reset();
    EXPECT_FALSE(service.PostToWindow(handle, WM_USER, 0, 0, "path:")) << "a closed window is a dead one";
    MessageLoop::Gui().ProcessMessages(); // the message queued for the gone endpoint is dropped
}

TEST(SingleInstanceSockets, AStalledPeerNeitherBlocksOtherPostsNorTheShutdown) {
    LinuxSingleInstance service(LinuxSingleInstance::OwnUid(), UniqueScope());
    Received received;
    auto endpoint = service.Listen(received.Handler());
    ASSERT_TRUE(endpoint);

    // A peer that connects, sends half a frame and then nothing.
    const std::string name = service.WindowName(endpoint->Handle());
    int stalled = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(stalled, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    ASSERT_EQ(::connect(stalled, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::send(stalled, "TFP1\x00\x04", 6, MSG_NOSIGNAL), 6);

    EXPECT_TRUE(service.PostToWindow(endpoint->Handle(), WM_USER, 0, 0, "path:/a.mp3"));
    ASSERT_TRUE(test::PumpUntil([&] { return received.payloads.size() == 1; }));
    EXPECT_EQ(received.payloads[0], "path:/a.mp3");

    // A frame that is not ours is dropped without an answer.
    int garbage = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(garbage, reinterpret_cast<sockaddr*>(&address), length), 0);
    const std::string junk(64, 'J');
    ASSERT_EQ(::send(garbage, junk.data(), junk.size(), MSG_NOSIGNAL), static_cast<ssize_t>(junk.size()));
    char answer = 0;
    EXPECT_LE(::recv(garbage, &answer, 1, 0), 0) << "closed (or reset) without the answer byte";
    ::close(garbage);

    endpoint.reset(); // with the stalled connection still open
    ::close(stalled);
    EXPECT_EQ(received.payloads.size(), 1u);
}

TEST(SingleInstanceSockets, TheMutexIsHeldAcrossProcessesForTheHoldersLife) {
    const std::string scope = UniqueScope();
    LinuxSingleInstance service(LinuxSingleInstance::OwnUid(), scope);
    auto tryInChild = [&] {
        pid_t child = ::fork();
        if (child == 0) {
            LinuxSingleInstance other(LinuxSingleInstance::OwnUid(), scope);
            auto mutex = other.CreateMutex("Tunefold");
            ::_exit(!mutex ? 2 : (mutex->AlreadyExisted() ? 10 : 11));
        }
        return ExitCodeOf(child);
    };
    auto held = service.CreateMutex("Tunefold");
    ASSERT_TRUE(held);
    ASSERT_FALSE(held->AlreadyExisted());
    EXPECT_EQ(tryInChild(), 10) << "another process finds it taken";
    auto again = service.CreateMutex("Tunefold");
    EXPECT_TRUE(again->AlreadyExisted()) << "and so does this one";
    held.reset();
    EXPECT_EQ(tryInChild(), 11) << "released with its holder";
    auto afterChild = service.CreateMutex("Tunefold");
    EXPECT_FALSE(afterChild->AlreadyExisted()) << "the child's hold ended with the child";
    EXPECT_FALSE(service.CreateMutex("Other")->AlreadyExisted());

    // Instances with settings stores of their own (another XDG_CONFIG_HOME) are apart.
    const std::string saved = std::getenv("XDG_CONFIG_HOME");
    const std::string here = LinuxSingleInstance::DefaultScope();
    setenv("XDG_CONFIG_HOME", (saved + "/elsewhere").c_str(), 1);
    const std::string elsewhere = LinuxSingleInstance::DefaultScope();
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    EXPECT_NE(here, elsewhere);
    EXPECT_EQ(here, LinuxSingleInstance::DefaultScope());
    LinuxSingleInstance a(LinuxSingleInstance::OwnUid(), here + scope);
    LinuxSingleInstance b(LinuxSingleInstance::OwnUid(), elsewhere + scope);
    auto inA = a.CreateMutex("Tunefold");
    EXPECT_FALSE(b.CreateMutex("Tunefold")->AlreadyExisted());
}

TEST(SingleInstanceSockets, AnotherUserIsRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "posting as another user needs to start as root (the rule itself is tested "
                        "with the in-process service)";
    }
    const std::string scope = UniqueScope();
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    // Forked before any thread of the test exists.
    pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[1]);
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) {
            ::_exit(3);
        }
        const WindowHandle handle = ReceiveHandle(pipeFds[0]);
        LinuxSingleInstance stranger(0, scope); // the names of the superuser's windows
        ::_exit(handle == 0 ? 4 : (stranger.PostToWindow(handle, WM_USER, 0, 0, "path:/evil.mp3") ? 1 : 0));
    }
    ::close(pipeFds[0]);
    LinuxSingleInstance service(LinuxSingleInstance::OwnUid(), scope);
    Received received;
    auto endpoint = service.Listen(received.Handler());
    ASSERT_TRUE(endpoint);
    const WindowHandle handle = endpoint->Handle();
    ASSERT_EQ(::write(pipeFds[1], &handle, sizeof handle), static_cast<ssize_t>(sizeof handle));
    ::close(pipeFds[1]);
    EXPECT_EQ(ExitCodeOf(child), 0) << "the stranger's post failed";
    EXPECT_EQ(service.RefusedCount(), 1);
    EXPECT_TRUE(service.PostToWindow(handle, WM_USER, 0, 0, "path:/mine.mp3"));
    ASSERT_TRUE(test::PumpUntil([&] { return !received.payloads.empty(); }));
    ASSERT_EQ(received.payloads.size(), 1u);
    EXPECT_EQ(received.payloads[0], "path:/mine.mp3");
}

} // namespace
} // namespace tunefold::platform
