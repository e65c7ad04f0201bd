#include "platform/platform_mode.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace tunefold::platform {

namespace {
std::atomic<int> mode{-1}; // -1 not read yet, 0 real, 1 virtual
}

bool VirtualPlatformRequested() {
    int m = mode.load();
    if (m < 0) {
        const char* env = std::getenv("TUNEFOLD_PLATFORM");
        m = (env != nullptr && std::strcmp(env, "virtual") == 0) ? 1 : 0;
        int expected = -1;
        mode.compare_exchange_strong(expected, m);
        m = mode.load();
    }
    return m == 1;
}

void UseVirtualPlatform(bool on) {
    mode.store(on ? 1 : 0);
}

} // namespace tunefold::platform
