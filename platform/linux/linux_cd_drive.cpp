#include "platform/linux/linux_cd_drive.h"

#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <system_error>

#include "platform/linux/paranoia_reader.h"
#include "platform/thread_priority.h"

namespace tunefold::platform {

namespace {

int FramesOf(const cdrom_msf0& msf) {
    return MsfToFrames(CdMsf{msf.minute, msf.second, msf.frame});
}

bool ReadToc(int fd, CdToc& toc) {
    cdrom_tochdr header{};
    if (ioctl(fd, CDROMREADTOCHDR, &header) != 0 || header.cdth_trk0 < 1 || header.cdth_trk1 > 99 ||
        header.cdth_trk0 > header.cdth_trk1) {
        return false;
    }
    CdToc result;
    result.firstTrack = header.cdth_trk0;
    result.lastTrack = header.cdth_trk1;
    for (int t = header.cdth_trk0; t <= header.cdth_trk1; ++t) {
        cdrom_tocentry entry{};
        entry.cdte_track = static_cast<__u8>(t);
        entry.cdte_format = CDROM_MSF;
        if (ioctl(fd, CDROMREADTOCENTRY, &entry) != 0) {
            return false;
        }
        result.tracks.push_back(
            CdTrackEntry{t, (entry.cdte_ctrl & CDROM_DATA_TRACK) != 0, FramesOf(entry.cdte_addr.msf)});
    }
    cdrom_tocentry leadOut{};
    leadOut.cdte_track = CDROM_LEADOUT;
    leadOut.cdte_format = CDROM_MSF;
    if (ioctl(fd, CDROMREADTOCENTRY, &leadOut) != 0) {
        return false;
    }
    result.leadOutFrame = FramesOf(leadOut.cdte_addr.msf);
    toc = std::move(result);
    return true;
}

} // namespace

LinuxCdDrive& LinuxCdDrive::Instance() {
    static LinuxCdDrive drive;
    return drive;
}

LinuxCdDrive::LinuxCdDrive(std::vector<std::string> paths) : paths_(std::move(paths)) {}

LinuxCdDrive::~LinuxCdDrive() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool LinuxCdDrive::Open() {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) {
        // Non-blocking: the open neither waits for a disc nor pulls a closed tray in.
        for (const std::string& path : paths_) {
            const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                fd_ = fd;
                path_ = path;
                break;
            }
        }
        if (fd_ < 0) {
            state_ = CdDriveState{};
            return false;
        }
        if (!worker_.joinable()) {
            try {
                worker_ = std::thread([this] {
                    NameCurrentThread("tf-cd-drive");
                    Run();
                });
            } catch (const std::system_error&) {
                ::close(fd_);
                fd_ = -1;
                return false;
            }
        }
    }
    ++opens_;
    ++requested_;
    wake_.notify_all();
    return true;
}

void LinuxCdDrive::Close() {
    std::lock_guard lock(mutex_);
    if (opens_ == 0) {
        return;
    }
    if (--opens_ == 0) {
        commands_.clear();
        wake_.notify_all(); // the worker lets the descriptor go
    }
}

bool LinuxCdDrive::IsOpen() {
    std::lock_guard lock(mutex_);
    return opens_ > 0;
}

std::string LinuxCdDrive::Name() {
    std::lock_guard lock(mutex_);
    return path_.empty() ? paths_.front() : path_;
}

CdDriveState LinuxCdDrive::State() {
    std::lock_guard lock(mutex_);
    if (opens_ == 0) {
        return CdDriveState{};
    }
    return state_;
}

bool LinuxCdDrive::Refresh(long timeoutMs) {
    std::unique_lock lock(mutex_);
    if (opens_ == 0) {
        return false;
    }
    const std::uint64_t target = ++requested_;
    wake_.notify_all();
    return refreshed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return completed_ >= target || opens_ == 0 || stop_;
    }) && completed_ >= target;
}

std::uint64_t LinuxCdDrive::Refreshes() {
    std::lock_guard lock(mutex_);
    return refreshes_;
}

bool LinuxCdDrive::Queue(Command command) {
    std::lock_guard lock(mutex_);
    if (opens_ == 0 || fd_ < 0) {
        return false;
    }
    commands_.push_back(std::move(command));
    ++requested_;
    wake_.notify_all();
    return true;
}

bool LinuxCdDrive::PlayFrames(int fromFrame, int toFrame) {
    if (fromFrame < 0 || toFrame <= fromFrame) {
        return false;
    }
    const CdMsf from = FramesToMsf(fromFrame);
    const CdMsf to = FramesToMsf(toFrame);
    return Queue([from, to](int fd) {
        cdrom_msf msf{};
        msf.cdmsf_min0 = static_cast<__u8>(from.minute);
        msf.cdmsf_sec0 = static_cast<__u8>(from.second);
        msf.cdmsf_frame0 = static_cast<__u8>(from.frame);
        msf.cdmsf_min1 = static_cast<__u8>(to.minute);
        msf.cdmsf_sec1 = static_cast<__u8>(to.second);
        msf.cdmsf_frame1 = static_cast<__u8>(to.frame);
        ioctl(fd, CDROMPLAYMSF, &msf);
    });
}

bool LinuxCdDrive::Pause() {
    return Queue([](int fd) { ioctl(fd, CDROMPAUSE); });
}

bool LinuxCdDrive::Resume() {
    return Queue([](int fd) { ioctl(fd, CDROMRESUME); });
}

bool LinuxCdDrive::Stop() {
    return Queue([](int fd) { ioctl(fd, CDROMSTOP); });
}

bool LinuxCdDrive::Eject() {
    return Queue([](int fd) { ioctl(fd, CDROMEJECT); });
}

bool LinuxCdDrive::CloseTray() {
    return Queue([](int fd) { ioctl(fd, CDROMCLOSETRAY); });
}

std::unique_ptr<CdAudioReader> LinuxCdDrive::OpenReader() {
    std::string path;
    {
        std::lock_guard lock(mutex_);
        if (opens_ == 0 || !state_.tocValid) {
            return nullptr;
        }
        path = path_;
    }
    return OpenParanoiaReader(path);
}

CdDriveState LinuxCdDrive::Query(int fd, const CdDriveState& previous) {
    CdDriveState s;
    s.mediaSerial = previous.mediaSerial;
    const int status = ioctl(fd, CDROM_DRIVE_STATUS, CDSL_CURRENT);
    switch (status) {
    case CDS_NO_DISC:
        s.status = CdDriveStatus::NoDisc;
        break;
    case CDS_TRAY_OPEN:
        s.status = CdDriveStatus::TrayOpen;
        break;
    case CDS_DRIVE_NOT_READY:
        s.status = CdDriveStatus::NotReady;
        break;
    case CDS_DISC_OK:
        s.status = CdDriveStatus::DiscOk;
        break;
    default:
        s.status = CdDriveStatus::NoInfo;
        break;
    }
    if (s.status == CdDriveStatus::NoInfo) {
        // A drive that cannot tell its state may still give a disc's table.
        CdToc probe;
        if (ReadToc(fd, probe)) {
            s.status = CdDriveStatus::DiscOk;
        }
    }
    if (s.status != CdDriveStatus::DiscOk) {
        if (previous.status == CdDriveStatus::DiscOk || previous.tocValid) {
            ++s.mediaSerial; // the disc went (or the door opened)
        }
        return s;
    }
    const bool changed = ioctl(fd, CDROM_MEDIA_CHANGED, CDSL_CURRENT) == 1;
    if (previous.tocValid && !changed && previous.status == CdDriveStatus::DiscOk) {
        s.toc = previous.toc;
        s.tocValid = true;
    } else {
        s.tocValid = ReadToc(fd, s.toc);
        ++s.mediaSerial;
    }
    cdrom_subchnl sub{};
    sub.cdsc_format = CDROM_MSF;
    if (s.tocValid && ioctl(fd, CDROMSUBCHNL, &sub) == 0) {
        switch (sub.cdsc_audiostatus) {
        case CDROM_AUDIO_PLAY:
            s.position.status = CdAudioStatus::Playing;
            break;
        case CDROM_AUDIO_PAUSED:
            s.position.status = CdAudioStatus::Paused;
            break;
        case CDROM_AUDIO_COMPLETED:
            s.position.status = CdAudioStatus::Completed;
            break;
        case CDROM_AUDIO_ERROR:
            s.position.status = CdAudioStatus::Error;
            break;
        default:
            s.position.status = CdAudioStatus::None;
            break;
        }
        s.position.track = sub.cdsc_trk;
        s.position.absoluteFrame = FramesOf(sub.cdsc_absaddr.msf);
        s.position.relativeFrame = FramesOf(sub.cdsc_reladdr.msf);
    }
    return s;
}

void LinuxCdDrive::Run() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
        if (opens_ == 0 && fd_ >= 0) {
            const int fd = fd_;
            fd_ = -1;
            state_ = CdDriveState{};
            lock.unlock();
            ::close(fd);
            lock.lock();
            continue;
        }
        if (fd_ < 0) {
            wake_.wait(lock, [&] { return stop_ || fd_ >= 0; });
            continue;
        }
        const int fd = fd_;
        const std::uint64_t generation = requested_;
        std::deque<Command> commands;
        commands.swap(commands_);
        const CdDriveState previous = state_;
        lock.unlock();
        for (const Command& command : commands) {
            command(fd);
        }
        CdDriveState fresh = Query(fd, previous);
        lock.lock();
        state_ = std::move(fresh);
        completed_ = generation;
        ++refreshes_;
        refreshed_.notify_all();
        wake_.wait_for(lock, std::chrono::milliseconds(kRefreshMs), [&] {
            return stop_ || !commands_.empty() || requested_ != completed_ || opens_ == 0;
        });
    }
}

} // namespace tunefold::platform
