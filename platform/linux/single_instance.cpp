#include "platform/linux/single_instance.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/linux/registry_file_store.h"
#include "platform/thread_priority.h"

namespace tunefold::platform {

namespace {

using Clock = std::chrono::steady_clock;

// One message on the wire: magic, message number, both parameters, payload length, payload; all
// little-endian.
constexpr char kMagic[4] = {'T', 'F', 'P', '1'};
constexpr std::size_t kHeaderSize = 4 + 4 + 8 + 8 + 4;
constexpr char kAck = 'K';
constexpr std::size_t kMaxPending = 16;

void PutLE(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

std::uint64_t GetLE(const std::string& in, std::size_t at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(in[at + static_cast<std::size_t>(i)]);
    }
    return value;
}

std::string EncodeFrame(UINT msg, WPARAM wParam, LPARAM lParam, std::string_view payload) {
    std::string frame(kMagic, sizeof kMagic);
    PutLE(frame, msg, 4);
    PutLE(frame, static_cast<std::uint64_t>(wParam), 8);
    PutLE(frame, static_cast<std::uint64_t>(lParam), 8);
    PutLE(frame, payload.size(), 4);
    frame.append(payload);
    return frame;
}

// How many bytes the frame in `bytes` needs in all; 0 when its header is not valid.
std::size_t FrameSize(const std::string& bytes) {
    if (bytes.size() < kHeaderSize) {
        return kHeaderSize;
    }
    if (std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
        return 0;
    }
    const std::uint64_t length = GetLE(bytes, 24, 4);
    if (length > MaxPostPayload) {
        return 0;
    }
    return kHeaderSize + static_cast<std::size_t>(length);
}

WindowMessage DecodeFrame(const std::string& bytes) {
    WindowMessage m;
    m.msg = static_cast<UINT>(GetLE(bytes, 4, 4));
    m.wParam = static_cast<WPARAM>(GetLE(bytes, 8, 8));
    m.lParam = static_cast<LPARAM>(GetLE(bytes, 16, 8));
    m.payload = bytes.substr(kHeaderSize);
    return m;
}

// The abstract address of `name`: a leading NUL, then the name's bytes (no terminator).
bool AbstractAddress(const std::string& name, sockaddr_un& address, socklen_t& length) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (name.size() + 1 > sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return true;
}

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { Reset(); }
    Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    int Get() const { return fd_; }
    void Reset() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = -1;
    }

private:
    int fd_;
};

void SetTimeouts(int fd, std::chrono::milliseconds timeout) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

class SocketMutex : public NamedMutex {
public:
    explicit SocketMutex(Descriptor fd) : fd_(std::move(fd)) {}
    bool AlreadyExisted() const override { return fd_.Get() < 0; }

private:
    Descriptor fd_;
};

std::atomic<std::uint32_t> handleCounter{0};

// The process id keeps handles of different processes apart; the counter those of one process.
WindowHandle NextHandle() {
    const std::uint32_t n = handleCounter.fetch_add(1) % 0xFFFFu + 1;
    return (static_cast<WindowHandle>(::getpid()) << 16) | n;
}

class SocketEndpoint : public WindowEndpoint {
public:
    SocketEndpoint(LinuxSingleInstance& owner, WindowHandle handle, Descriptor listener, Descriptor wake,
                   WindowMessageHandler handler)
        : owner_(owner), handle_(handle), listener_(std::move(listener)), wake_(std::move(wake)),
          delivery_(std::move(handler)) {
        thread_ = std::thread([this] {
            NameCurrentThread("tf-instance");
            Serve();
        });
    }
    ~SocketEndpoint() override {
        const std::uint64_t one = 1;
        // An eventfd write of 1 cannot block or fail short of an overflow we never reach.
        [[maybe_unused]] ssize_t written = ::write(wake_.Get(), &one, sizeof one);
        thread_.join();
    }
    WindowHandle Handle() const override { return handle_; }

private:
    struct Connection {
        Descriptor fd;
        std::string bytes;
        Clock::time_point deadline;
    };

    void Serve() {
        std::vector<Connection> pending;
        std::vector<pollfd> fds;
        for (;;) {
            fds.clear();
            fds.push_back({wake_.Get(), POLLIN, 0});
            fds.push_back({listener_.Get(), POLLIN, 0});
            Clock::time_point earliest = Clock::time_point::max();
            for (const Connection& c : pending) {
                fds.push_back({c.fd.Get(), POLLIN, 0});
                earliest = std::min(earliest, c.deadline);
            }
            int timeout = -1;
            if (!pending.empty()) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(earliest - Clock::now());
                timeout = static_cast<int>(std::max<long long>(0, left.count() + 1));
            }
            int ready = ::poll(fds.data(), fds.size(), timeout);
            if (ready < 0 && errno != EINTR) {
                return;
            }
            if ((fds[0].revents & POLLIN) != 0) {
                return; // shutting down; open connections close with `pending`
            }
            for (std::size_t i = pending.size(); i-- > 0;) {
                if (fds[i + 2].revents != 0 && !ReadSome(pending[i])) {
                    pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
                }
            }
            const Clock::time_point now = Clock::now();
            std::erase_if(pending, [now](const Connection& c) { return c.deadline <= now; });
            if ((fds[1].revents & POLLIN) != 0) {
                AcceptAll(pending);
            }
        }
    }

    void AcceptAll(std::vector<Connection>& pending) {
        for (;;) {
            Descriptor fd(::accept4(listener_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
            if (fd.Get() < 0) {
                return;
            }
            ucred peer{};
            socklen_t length = sizeof peer;
            if (::getsockopt(fd.Get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
                !PeerMayPost(static_cast<std::uint32_t>(peer.uid), LinuxSingleInstance::OwnUid())) {
                owner_.CountRefusal();
                std::fprintf(stderr, "tunefold: refused a message to window %llu from user id %u\n",
                             static_cast<unsigned long long>(handle_), static_cast<unsigned>(peer.uid));
                continue;
            }
            if (pending.size() >= kMaxPending) {
                continue; // the poster sees a failure and may try again
            }
            pending.push_back({std::move(fd), {}, Clock::now() + owner_.ReadTimeout()});
        }
    }

    // False when the connection is done with (answered, broken or invalid).
    bool ReadSome(Connection& c) {
        char buffer[4096];
        for (;;) {
            std::size_t need = FrameSize(c.bytes);
            if (need == 0) {
                return false;
            }
            if (c.bytes.size() >= need) {
                break;
            }
            const std::size_t want = std::min(sizeof buffer, need - c.bytes.size());
            ssize_t n = ::recv(c.fd.Get(), buffer, want, 0);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
                return true;
            }
            if (n <= 0) {
                return false;
            }
            c.bytes.append(buffer, static_cast<std::size_t>(n));
            if (FrameSize(c.bytes) != 0 && c.bytes.size() >= FrameSize(c.bytes)) {
                break;
            }
        }
        delivery_.Deliver(DecodeFrame(c.bytes));
        const char ack = kAck;
        [[maybe_unused]] ssize_t sent = ::send(c.fd.Get(), &ack, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        return false;
    }

    LinuxSingleInstance& owner_;
    WindowHandle handle_;
    Descriptor listener_;
    Descriptor wake_;
    GuiDelivery delivery_;
    std::thread thread_;
};

} // namespace

LinuxSingleInstance::LinuxSingleInstance(std::uint32_t nameUid, std::string scope)
    : prefix_("tunefold-" + std::to_string(nameUid) + "-" + scope) {}

std::uint32_t LinuxSingleInstance::OwnUid() {
    return static_cast<std::uint32_t>(::getuid());
}

std::string LinuxSingleInstance::DefaultScope() {
    // FNV-1a: short, stable across runs and builds.
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : FileRegistryStore::DefaultPath()) {
        hash = (hash ^ c) * 0x100000001b3ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string LinuxSingleInstance::MutexName(std::string_view name) const {
    return prefix_ + "/mutex/" + std::string(name);
}

std::string LinuxSingleInstance::WindowName(WindowHandle handle) const {
    return prefix_ + "/window/" + WindowHandleText(handle);
}

std::unique_ptr<NamedMutex> LinuxSingleInstance::CreateMutex(std::string_view name) {
    sockaddr_un address{};
    socklen_t length = 0;
    if (!AbstractAddress(MutexName(name), address, length)) {
        return nullptr;
    }
    Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.Get() < 0) {
        return nullptr;
    }
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        if (errno == EADDRINUSE) {
            return std::make_unique<SocketMutex>(Descriptor());
        }
        return nullptr;
    }
    return std::make_unique<SocketMutex>(std::move(fd));
}

std::unique_ptr<WindowEndpoint> LinuxSingleInstance::Listen(WindowMessageHandler handler) {
    Descriptor wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (wake.Get() < 0) {
        return nullptr;
    }
    // A name still taken can only be one of our own handles after the counter went round.
    for (int attempt = 0; attempt < 64; ++attempt) {
        const WindowHandle handle = NextHandle();
        sockaddr_un address{};
        socklen_t length = 0;
        if (!AbstractAddress(WindowName(handle), address, length)) {
            return nullptr;
        }
        Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (fd.Get() < 0) {
            return nullptr;
        }
        if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
            if (errno == EADDRINUSE) {
                continue;
            }
            return nullptr;
        }
        if (::listen(fd.Get(), 16) != 0) {
            return nullptr;
        }
        return std::make_unique<SocketEndpoint>(*this, handle, std::move(fd), std::move(wake),
                                                std::move(handler));
    }
    return nullptr;
}

bool LinuxSingleInstance::PostToWindow(WindowHandle handle, UINT msg, WPARAM wParam, LPARAM lParam,
                                       std::string_view payload) {
    if (handle == 0 || payload.size() > MaxPostPayload) {
        return false;
    }
    sockaddr_un address{};
    socklen_t length = 0;
    if (!AbstractAddress(WindowName(handle), address, length)) {
        return false;
    }
    Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.Get() < 0) {
        return false;
    }
    // Blocking with timeouts: a connect to a full backlog, the send and the wait for the answer are
    // each bounded.
    SetTimeouts(fd.Get(), postTimeout_);
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        return false; // nobody listens: a dead window
    }
    const std::string frame = EncodeFrame(msg, wParam, lParam, payload);
    std::size_t sent = 0;
    while (sent < frame.size()) {
        ssize_t n = ::send(fd.Get(), frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    char answer = 0;
    for (;;) {
        ssize_t n = ::recv(fd.Get(), &answer, 1, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n == 1 && answer == kAck;
    }
}

} // namespace tunefold::platform
