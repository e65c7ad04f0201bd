#include "platform/dialogs.h"

#include <gtest/gtest.h>

#include "platform/virtual/scripted_dialogs.h"

namespace tunefold::platform {
namespace {

TEST(Dialogs, FlagsDecodeAndDefaultButtons) {
    MessageBoxRequest r =
        MessageBoxFromFlags("Delete?", "Playlist", MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2);
    EXPECT_EQ(r.text, "Delete?");
    EXPECT_EQ(r.caption, "Playlist");
    EXPECT_EQ(r.buttons, MsgButtons::YesNoCancel);
    EXPECT_EQ(r.icon, MsgIcon::Question);
    EXPECT_EQ(r.defaultButton, 1);
    EXPECT_EQ(DefaultAnswer(r), MsgResult::No);

    EXPECT_EQ(MessageBoxFromFlags("", "", MB_OK | MB_ICONSTOP).icon, MsgIcon::Error);
    EXPECT_EQ(MessageBoxFromFlags("", "", MB_ICONWARNING).icon, MsgIcon::Warning);
    EXPECT_EQ(MessageBoxFromFlags("", "", MB_ICONINFORMATION).icon, MsgIcon::Information);
    EXPECT_EQ(DefaultAnswer(MessageBoxFromFlags("", "", MB_ABORTRETRYIGNORE | MB_DEFBUTTON3)),
              MsgResult::Ignore);
    EXPECT_EQ(DefaultAnswer(MessageBoxFromFlags("", "", MB_RETRYCANCEL)), MsgResult::Retry);
    // A default button the set does not have falls back to the first.
    EXPECT_EQ(DefaultAnswer(MessageBoxFromFlags("", "", MB_OKCANCEL | MB_DEFBUTTON3)), MsgResult::Ok);
    EXPECT_EQ(static_cast<int>(MsgResult::Yes), 6);
    EXPECT_EQ(static_cast<int>(MsgResult::Cancel), 2);
}

TEST(Dialogs, ScriptedAnswersFromQueuesAndRecords) {
    ScriptedDialogs d;
    d.QueueMessageBox(MsgResult::No);
    d.QueueOpen(FileDialogResult{true, {"/music/a.mp3", "/music/b.mp3"}, 2});
    d.QueueInput(InputBoxResult{true, "Rock"});
    d.QueueColor(ColorDialogResult{true, 0x00FF8000});

    EXPECT_EQ(d.MessageBox("Sure?", "Question", MB_YESNO), MsgResult::No);
    // Nothing queued any more: the default button answers.
    EXPECT_EQ(d.MessageBox("Sure?", "Question", MB_YESNO | MB_DEFBUTTON2), MsgResult::No);
    EXPECT_EQ(d.MessageBox("Sure?", "Question", MB_YESNO), MsgResult::Yes);

    FileDialogRequest open;
    open.title = "Open";
    open.filter = "MPEG|*.mp3;*.mp2|All|*.*";
    open.allowMultiSelect = true;
    FileDialogResult files = d.OpenFile(open);
    EXPECT_TRUE(files.accepted);
    EXPECT_EQ(files.FileName(), "/music/a.mp3");
    EXPECT_EQ(files.files.size(), 2u);
    EXPECT_EQ(files.filterIndex, 2);
    // The save queue is separate: nothing queued there means "cancelled".
    EXPECT_FALSE(d.SaveFile(FileDialogRequest{}).accepted);

    EXPECT_EQ(d.InputBox("Scheme", "Name:", "Default"), "Rock");
    EXPECT_EQ(d.InputBox("Scheme", "Name:", "Default"), "Default"); // cancelled keeps the start text
    ColorDialogResult c = d.ChooseColor(ColorDialogRequest{0x000000FF, {}});
    EXPECT_TRUE(c.accepted);
    EXPECT_EQ(c.color, 0x00FF8000u);
    EXPECT_EQ(d.ChooseColor(ColorDialogRequest{0x000000FF, {}}).color, 0x000000FFu);
    EXPECT_EQ(d.Unanswered(), 0u);

    const std::vector<AskedDialog> asked = d.Asked();
    ASSERT_EQ(asked.size(), 9u);
    EXPECT_EQ(asked[3].kind, AskedDialog::Kind::Open);
    EXPECT_EQ(std::get<FileDialogRequest>(asked[3].request).filter, "MPEG|*.mp3;*.mp2|All|*.*");
    EXPECT_EQ(asked[4].kind, AskedDialog::Kind::Save);
    EXPECT_EQ(std::get<InputBoxRequest>(asked[5].request).prompt, "Name:");
    const auto boxes = d.MessageBoxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[1].defaultButton, 1);
    d.ClearRecord();
    EXPECT_EQ(d.AskedCount(), 0u);
}

TEST(Dialogs, HeadlessDefaultAndInstalledService) {
    // With nothing installed, the headless service answers with defaults and never blocks.
    HeadlessDialogs quiet(false);
    EXPECT_EQ(quiet.MessageBox("Gone", "Error", MB_OKCANCEL | MB_DEFBUTTON2), MsgResult::Cancel);
    EXPECT_FALSE(quiet.OpenFile(FileDialogRequest{}).accepted);
    EXPECT_EQ(quiet.InputBox("c", "p", "start"), "start");
    EXPECT_EQ(quiet.AskedCount(), 3u);
    EXPECT_NE(dynamic_cast<HeadlessDialogs*>(&Dialogs()), nullptr);

    ScriptedDialogs scripted;
    {
        ScopedDialogs use(scripted);
        scripted.QueueMessageBox(MsgResult::Retry);
        EXPECT_EQ(Dialogs().MessageBox("x", "y", MB_RETRYCANCEL), MsgResult::Retry);
    }
    EXPECT_EQ(scripted.AskedCount(), 1u);
    EXPECT_NE(&Dialogs(), &scripted);
}

} // namespace
} // namespace tunefold::platform
