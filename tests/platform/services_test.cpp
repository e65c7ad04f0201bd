// Installing the platform services as one set, and the default settings store following where
// XDG_CONFIG_HOME points now.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/services.h"
#include "platform/virtual/scripted_dialogs.h"
#include "platform/virtual/virtual_mixer.h"
#include "platform/virtual/virtual_registry.h"
#include "platform/virtual/virtual_sound_card.h"
#include "platform/virtual/virtual_timers.h"
#include "support/files.h"

namespace tunefold::platform {
namespace {

TEST(ServicesTest, ASetIsInstalledForAScopeAndTheOneBeforeComesBack) {
    VirtualSoundCard card;
    VirtualTimers timers;
    ScriptedDialogs dialogs;
    VirtualMixer mixer;
    auto store = std::make_shared<VirtualRegistryStore>();
    ServiceSet set{&card, &timers, &dialogs, store, &mixer};
    DialogService& before = Dialogs();
    {
        ScopedServices scoped(set);
        EXPECT_EQ(&WaveOut(), &card);
        EXPECT_EQ(&Timers(), &timers);
        EXPECT_EQ(&Dialogs(), &dialogs);
        EXPECT_EQ(&Mixer(), &mixer);
        EXPECT_EQ(CurrentRegistryStore(), store);
        // A partial set puts the others back to the platform's own.
        ScopedServices partial(ServiceSet{nullptr, &timers, nullptr, nullptr, nullptr});
        EXPECT_EQ(&WaveOut(), &VirtualSoundCard::Instance()); // the tests run on the virtual platform
        EXPECT_EQ(&Mixer(), &VirtualMixer::Instance());
        EXPECT_NE(CurrentRegistryStore(), store);
    }
    EXPECT_EQ(&Dialogs(), &before);
    EXPECT_EQ(InstalledRegistryStore(), nullptr);
}

TEST(ServicesTest, TheDefaultSettingsStoreLivesWhereXdgConfigHomePointsNow) {
    const std::string saved = std::getenv("XDG_CONFIG_HOME");
    const auto first = test::FreshFolder("config-a");
    const auto second = test::FreshFolder("config-b");
    setenv("XDG_CONFIG_HOME", first.c_str(), 1);
    RegistryKey key;
    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, "Software\\Test", true));
    ASSERT_TRUE(key.WriteString("Where", "a"));
    setenv("XDG_CONFIG_HOME", second.c_str(), 1);
    RegistryKey other;
    EXPECT_FALSE(other.Open(HKEY_CURRENT_USER, "Software\\Test", false));
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    EXPECT_TRUE(std::filesystem::exists(first / "tunefold" / "registry.reg"));
}

} // namespace
} // namespace tunefold::platform
