// What the virtual card's outputs and inputs keep alike around the device front's calls: the count
// of every call by name, the faults a test injects into them, and the position counter a driver
// may report oddly.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/wave_device.h"

namespace tunefold::platform {

// One call made to fail: the first `after` calls succeed, every later one returns `code`.
struct VirtualFault {
    MMRESULT code = MMSYSERR_NOERROR;
    int after = 0;
};

// Calls counted by name; the owner's lock guards it.
class VirtualCallCounts {
public:
    // Counts `call`; true, with `code` set, when `fault` makes this call fail.
    bool Fails(const VirtualFault& fault, const char* call, MMRESULT& code) {
        const int n = counts_[call]++;
        if (fault.code != MMSYSERR_NOERROR && n >= fault.after) {
            code = fault.code;
            return true;
        }
        return false;
    }
    void Count(const char* call, int by = 1) { counts_[call] += by; }
    int Get(const std::string& call) const {
        const auto it = counts_.find(call);
        return it == counts_.end() ? 0 : it->second;
    }
    void Clear() { counts_.clear(); }

private:
    std::map<std::string, int> counts_;
};

// `frames` frames of `block` bytes on a 32-bit counter that wraps to 0 at `wrapAt` (0: at 2^32),
// in the unit asked for, or in bytes whatever was asked for.
inline void VirtualPosition(std::uint64_t frames, WORD block, std::uint64_t wrapAt, bool bytesOnly,
                            MMTIME& time) {
    const std::uint64_t wrap = wrapAt != 0 ? wrapAt : (std::uint64_t{1} << 32);
    if (time.wType == TIME_SAMPLES && !bytesOnly) {
        time.value = static_cast<DWORD>(frames % wrap);
    } else {
        time.wType = TIME_BYTES;
        time.value = static_cast<DWORD>((frames * block) % wrap);
    }
}

} // namespace tunefold::platform
