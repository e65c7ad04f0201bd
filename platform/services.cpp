#include "platform/services.h"

namespace tunefold::platform {

ServiceSet InstallServices(const ServiceSet& set) {
    ServiceSet before;
    before.waveOut = SetWaveOut(set.waveOut);
    before.timers = SetTimers(set.timers);
    before.dialogs = SetDialogs(set.dialogs);
    before.mixer = SetMixer(set.mixer);
    before.singleInstance = SetSingleInstance(set.singleInstance);
    before.cdAudio = SetCdAudio(set.cdAudio);
    before.registry = InstalledRegistryStore();
    InstallRegistryStore(set.registry);
    return before;
}

} // namespace tunefold::platform
