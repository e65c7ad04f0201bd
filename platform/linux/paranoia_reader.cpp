#include "platform/linux/paranoia_reader.h"

#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <cstring>

namespace tunefold::platform {

namespace {

// Retries per sector before paranoia gives up on it and returns what it has.
constexpr int kMaxRetries = 5;

class ParanoiaReader : public CdAudioReader {
public:
    ParanoiaReader(cdrom_drive_t* drive, cdrom_paranoia_t* paranoia) : drive_(drive), paranoia_(paranoia) {
        lastLsn_ = cdio_cddap_disc_lastsector(drive_);
    }
    ~ParanoiaReader() override {
        cdio_paranoia_free(paranoia_);
        cdio_cddap_close(drive_);
    }
    ParanoiaReader(const ParanoiaReader&) = delete;
    ParanoiaReader& operator=(const ParanoiaReader&) = delete;

    int Read(int lba, int count, std::uint8_t* out) override {
        if (lba < 0 || count < 0) {
            return -1;
        }
        if (lba != next_) {
            if (cdio_paranoia_seek(paranoia_, lba, SEEK_SET) < 0) {
                return -1;
            }
            next_ = lba;
        }
        int done = 0;
        for (; done < count && next_ <= lastLsn_; ++done) {
            const int16_t* samples = cdio_paranoia_read_limited(paranoia_, nullptr, kMaxRetries);
            if (samples == nullptr) {
                return done > 0 ? done : -1;
            }
            // Paranoia hands the samples over in host order; ours are little-endian.
            std::uint8_t* sector = out + static_cast<std::ptrdiff_t>(done) * kCdSectorBytes;
            for (int i = 0; i < kCdSectorBytes / 2; ++i) {
                const auto v = static_cast<std::uint16_t>(samples[i]);
                sector[2 * i] = static_cast<std::uint8_t>(v & 0xFF);
                sector[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
            }
            ++next_;
        }
        return done;
    }

private:
    cdrom_drive_t* drive_;
    cdrom_paranoia_t* paranoia_;
    int next_ = -1;
    int lastLsn_ = -1;
};

} // namespace

std::unique_ptr<CdAudioReader> OpenParanoiaReader(const std::string& devicePath) {
    cdrom_drive_t* drive = cdio_cddap_identify(devicePath.c_str(), CDDA_MESSAGE_FORGETIT, nullptr);
    if (drive == nullptr) {
        return nullptr;
    }
    cdio_cddap_verbose_set(drive, CDDA_MESSAGE_FORGETIT, CDDA_MESSAGE_FORGETIT);
    if (cdio_cddap_open(drive) != 0) {
        cdio_cddap_close(drive);
        return nullptr;
    }
    cdrom_paranoia_t* paranoia = cdio_paranoia_init(drive);
    if (paranoia == nullptr) {
        cdio_cddap_close(drive);
        return nullptr;
    }
    cdio_paranoia_modeset(paranoia, PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
    return std::make_unique<ParanoiaReader>(drive, paranoia);
}

} // namespace tunefold::platform
