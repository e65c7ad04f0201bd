// Which backends the process uses: the real ones, or the deterministic virtual ones
// (TUNEFOLD_PLATFORM=virtual, used on machines without a sound card, in CI and under Xvfb).
#pragma once

namespace tunefold::platform {

// True when TUNEFOLD_PLATFORM is "virtual" (read once, on first use) or after UseVirtualPlatform().
bool VirtualPlatformRequested();
// Tests and headless tools switch the whole process to the virtual backends.
void UseVirtualPlatform(bool on = true);

} // namespace tunefold::platform
