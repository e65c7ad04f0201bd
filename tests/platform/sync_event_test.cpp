#include "platform/sync_event.h"

#include <gtest/gtest.h>

namespace tunefold::platform {
namespace {

// A wait of 0 ms is a poll: it answers at once and takes an auto-reset signal just as a real wait
// does, while a manual-reset event stays signalled until it is reset.
TEST(SyncEvent, ZeroWaitPollsAndKeepsTheResetRules) {
    SyncEvent autoEvent(SyncEvent::Reset::Auto);
    EXPECT_FALSE(autoEvent.Wait(0));
    autoEvent.Set();
    EXPECT_TRUE(autoEvent.Wait(0));
    EXPECT_FALSE(autoEvent.Wait(0)) << "the signal was taken";
    autoEvent.Set();
    EXPECT_TRUE(autoEvent.Wait(1));
    EXPECT_FALSE(autoEvent.IsSet());

    SyncEvent manual(SyncEvent::Reset::Manual, true);
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.IsSet());
    manual.ResetEvent();
    EXPECT_FALSE(manual.Wait(0));
}

} // namespace
} // namespace tunefold::platform
