// The pump runs the platform's messages on the Qt GUI thread, from Qt's own event loop.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>

#include <atomic>
#include <thread>

#include "app/qt/message_pump.h"
#include "platform/message_loop.h"

namespace tunefold::qt {
namespace {

using platform::MessageLoop;
using platform::MessageWindow;

TEST(MessagePump, RunsAMessagePostedFromAnotherThreadOnTheGuiThread) {
    MessagePump pump;
    std::atomic<int> handled{0};
    std::thread::id ranOn;
    MessageWindow window([&](UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == platform::WM_USER + 7) {
            ranOn = std::this_thread::get_id();
            ++handled;
        }
        return 0;
    });
    std::thread worker([&] { window.Post(platform::WM_USER + 7); });
    worker.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return handled.load() == 1; }, 5000));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(MessagePump, AFloodOfWakeUpsCostsOneRun) {
    MessagePump pump;
    QCoreApplication::processEvents();
    const int runsBefore = pump.Runs();
    std::atomic<int> handled{0};
    MessageWindow window([&](UINT, WPARAM, LPARAM) -> LRESULT {
        ++handled;
        return 0;
    });
    // The GUI thread does not turn its loop while the worker posts: every wake-up after the first
    // finds one already on its way.
    std::thread worker([&] {
        for (int i = 0; i < 1000; ++i) {
            window.Post(platform::WM_USER);
        }
    });
    worker.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return handled.load() == 1000; }, 5000));
    EXPECT_EQ(pump.Runs() - runsBefore, 1);
}

TEST(MessagePump, AWorkersSynchronizeIsServedWhileQtRunsItsLoop) {
    MessagePump pump;
    std::atomic<bool> returned{false};
    std::thread::id ranOn;
    std::thread worker([&] {
        MessageLoop::Gui().Synchronize([&] { ranOn = std::this_thread::get_id(); });
        returned = true;
    });
    const bool served = QTest::qWaitFor([&] { return returned.load(); }, 5000);
    if (!served) {
        // Let the worker go, so a failing pump fails this test instead of hanging the run.
        MessageLoop::Gui().ProcessUntil([&] { return returned.load(); }, 5000);
    }
    worker.join();
    EXPECT_TRUE(served);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(MessagePump, MessagesQueuedBeforeThePumpRunAndNothingRunsAfterItIsGone) {
    int handled = 0;
    MessageWindow window([&](UINT, WPARAM, LPARAM) -> LRESULT {
        ++handled;
        return 0;
    });
    window.Post(platform::WM_USER);
    {
        MessagePump pump;
        EXPECT_TRUE(QTest::qWaitFor([&] { return handled == 1; }, 5000));
        window.Post(platform::WM_USER);
        // Gone with its wake-up still queued in Qt: Qt drops it with the object.
    }
    QCoreApplication::processEvents();
    std::thread worker([&] { window.Post(platform::WM_USER); });
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(MessageLoop::Gui().PendingCount(), 2u);
    MessageLoop::Gui().ProcessMessages();
    EXPECT_EQ(handled, 3);
}

} // namespace
} // namespace tunefold::qt
