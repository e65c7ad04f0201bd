// The platform services the program runs on, installed in one step by the program's start (and by
// tools and tests that want a set of their own). Each service is still reached through its own
// accessor (WaveOut(), Timers(), Dialogs(), CurrentRegistryStore(), Mixer(),
// SingleInstance(), CdAudio()), which looks at the
// installed backend on every call: nothing keeps a backend it found once. A service left out of a
// set (null) is the platform's own: the real backend, or the virtual one when TUNEFOLD_PLATFORM is
// "virtual".
#pragma once

#include <memory>

#include "platform/cd_audio.h"
#include "platform/dialogs.h"
#include "platform/mixer.h"
#include "platform/mm_timer.h"
#include "platform/registry.h"
#include "platform/single_instance.h"
#include "platform/wave_device.h"

namespace tunefold::platform {

struct ServiceSet {
    WaveOutDevices* waveOut = nullptr;
    TimerService* timers = nullptr;
    DialogService* dialogs = nullptr;
    std::shared_ptr<RegistryStore> registry;
    MixerDevices* mixer = nullptr;
    SingleInstanceService* singleInstance = nullptr;
    CdAudioDevice* cdAudio = nullptr;
};

// Installs every service of `set` (null ones go back to the platform's own) and returns the set
// that was installed before. The caller keeps ownership of the raw-pointer services.
ServiceSet InstallServices(const ServiceSet& set);

// Installs a set for a scope and puts the previous one back at its end.
class ScopedServices {
public:
    explicit ScopedServices(const ServiceSet& set) : previous_(InstallServices(set)) {}
    ~ScopedServices() { InstallServices(previous_); }
    ScopedServices(const ScopedServices&) = delete;
    ScopedServices& operator=(const ScopedServices&) = delete;

private:
    ServiceSet previous_;
};

} // namespace tunefold::platform
