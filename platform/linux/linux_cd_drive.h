// The Linux CD drive: the CD-ROM ioctls on /dev/cdrom (else /dev/sr0), opened non-blocking so that
// a closed tray is not pulled in and an empty drive is no error. The process holds one descriptor
// however many users open the drive (the kernel refuses an eject while other opens exist), and a
// worker thread does every ioctl: it carries out the queued commands and refreshes the picture of
// the drive (status, table of contents when the disc changed, play position) about four times a
// second, because the ioctls block while the drive spins up. The GUI thread only reads that picture.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/cd_audio.h"

namespace tunefold::platform {

class LinuxCdDrive : public CdAudioDevice {
public:
    // The interval at which the worker asks the drive when no command wakes it.
    static constexpr long kRefreshMs = 250;

    static LinuxCdDrive& Instance();
    // `paths`: the device files tried in order.
    explicit LinuxCdDrive(std::vector<std::string> paths = {"/dev/cdrom", "/dev/sr0"});
    ~LinuxCdDrive() override;
    LinuxCdDrive(const LinuxCdDrive&) = delete;
    LinuxCdDrive& operator=(const LinuxCdDrive&) = delete;

    bool Open() override;
    void Close() override;
    bool IsOpen() override;
    std::string Name() override;
    CdDriveState State() override;
    bool Refresh(long timeoutMs) override;
    bool PlayFrames(int fromFrame, int toFrame) override;
    bool Pause() override;
    bool Resume() override;
    bool Stop() override;
    bool Eject() override;
    bool CloseTray() override;
    std::unique_ptr<CdAudioReader> OpenReader() override;

    // Times the worker has asked the drive (tests).
    std::uint64_t Refreshes();

private:
    using Command = std::function<void(int fd)>;
    bool Queue(Command command);
    void Run();
    // Asks the drive through `fd`; `previous` is the picture so far.
    static CdDriveState Query(int fd, const CdDriveState& previous);

    const std::vector<std::string> paths_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable refreshed_;
    std::thread worker_;
    bool stop_ = false;
    int fd_ = -1;      // closed by the worker only (or after it ended), so its copy stays valid
    int opens_ = 0;    // users that opened the drive
    std::string path_; // the device file in use
    std::deque<Command> commands_;
    std::uint64_t requested_ = 0; // refresh generations asked for
    std::uint64_t completed_ = 0; // and done
    std::uint64_t refreshes_ = 0;
    CdDriveState state_;
};

} // namespace tunefold::platform
