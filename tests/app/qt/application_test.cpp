// The default handler: an exception that escapes an event handler is shown in a message box with its
// text, and the program goes on.
#include <gtest/gtest.h>

#include <QMetaObject>
#include <QObject>
#include <QTest>

#include <stdexcept>
#include <thread>

#include "app/qt/application.h"
#include "app/qt/message_pump.h"
#include "engine/framework/errors.h"
#include "platform/message_loop.h"
#include "platform/virtual/scripted_dialogs.h"

namespace tunefold::qt {
namespace {

Application& App() {
    return *static_cast<Application*>(QCoreApplication::instance());
}

TEST(DefaultHandler, ShowsTheTextOfEngineAndLibraryErrorsAndGoesOn) {
    platform::ScriptedDialogs dialogs;
    platform::ScopedDialogs scoped(dialogs);
    QObject target;
    bool laterRan = false;
    QMetaObject::invokeMethod(
        &target, [] { throw EMMError("WaveOutOpen:\n\rThe device is in use"); }, Qt::QueuedConnection);
    QMetaObject::invokeMethod(
        &target, [] { throw std::out_of_range("index out of range"); }, Qt::QueuedConnection);
    QMetaObject::invokeMethod(
        &target, [&] { laterRan = true; }, Qt::QueuedConnection);
    ASSERT_TRUE(QTest::qWaitFor([&] { return laterRan; }, 5000));

    const std::vector<platform::MessageBoxRequest> boxes = dialogs.MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "WaveOutOpen:\n\rThe device is in use");
    EXPECT_EQ(boxes[0].caption, "Audio Play");
    EXPECT_EQ(boxes[0].icon, platform::MsgIcon::Error);
    EXPECT_EQ(boxes[0].buttons, platform::MsgButtons::Ok);
    EXPECT_EQ(boxes[1].text, "index out of range");
}

TEST(DefaultHandler, CatchesAnErrorRaisedByAPlatformMessageHandler) {
    platform::ScriptedDialogs dialogs;
    platform::ScopedDialogs scoped(dialogs);
    MessagePump pump;
    const int before = App().HandledCount();
    platform::MessageWindow window(
        [](UINT, WPARAM, LPARAM) -> LRESULT { throw EMMError("Invalid Object stream"); });
    std::thread worker([&] { window.Post(platform::WM_USER); });
    worker.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs.AskedCount() == 1; }, 5000));
    EXPECT_EQ(dialogs.MessageBoxes().at(0).text, "Invalid Object stream");
    EXPECT_EQ(App().HandledCount(), before + 1);
}

} // namespace
} // namespace tunefold::qt
