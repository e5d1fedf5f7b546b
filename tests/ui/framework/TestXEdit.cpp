// The single-line input: what typing, editing keys, the clipboard and the mouse do to its text.

#include "FakePlatform.h"

#include "ui/framework/UIXEdit.h"

#include <gtest/gtest.h>

namespace {

class XEditTest : public ::testing::Test {
protected:
    void SetUp() override {
        edit = root->Add<UIXEdit>();
        edit->SetLayout(10, 10, 285, 30);
        edit->SetMaxLength(20);
        edit->SetId(9);
        Click(*root, 20, 20); // focus
    }
    void Type(const std::string& text) {
        for (char c : text) {
            NativeEvent e;
            e.kind = NativeEventKind::Char;
            e.character = static_cast<unsigned char>(c);
            root->DispatchEvent(e);
        }
    }
    void Key(uint32_t key, unsigned modifiers = 0) {
        NativeEvent e;
        e.kind = NativeEventKind::KeyDown;
        e.key = key;
        e.modifiers = modifiers;
        root->DispatchEvent(e);
    }
    size_t Changes() const {
        return std::count_if(root->log.begin(), root->log.end(),
                             [](const auto& e) { return e.code == kNotifyTextChanged; });
    }

    FakePlatform platform;
    std::unique_ptr<NotifyRecorder> root = MakeWindowRoot<NotifyRecorder>(400, 100);
    UIXEdit* edit = nullptr;
};

TEST_F(XEditTest, TypingTakesPrintableAsciiUpToTheMaximum) {
    Type("ab c~d{}");
    EXPECT_EQ(edit->Text(), "abcd{}"); // no space, no tilde
    EXPECT_EQ(Changes(), 6u);
    Type(std::string(30, 'x'));
    EXPECT_EQ(edit->Text().size(), 20u);
    NativeEvent chinese;
    chinese.kind = NativeEventKind::Char;
    chinese.character = U'中';
    root->DispatchEvent(chinese);
    EXPECT_EQ(edit->Text().size(), 20u);
}

TEST_F(XEditTest, EditingKeysMoveTheCaretAndRemoveCharacters) {
    Type("abcdef");
    Key(NativeKey::Left);
    Key(NativeKey::Left);
    Key(NativeKey::Backspace);
    EXPECT_EQ(edit->Text(), "abcef");
    Key(NativeKey::Delete);
    EXPECT_EQ(edit->Text(), "abcf");
    Key(NativeKey::Home);
    Type("0");
    EXPECT_EQ(edit->Text(), "0abcf");
    Key(NativeKey::End);
    Type("9");
    EXPECT_EQ(edit->Text(), "0abcf9");
    Key(NativeKey::Home);
    Key(NativeKey::Backspace); // nothing before the caret
    EXPECT_EQ(edit->Text(), "0abcf9");
    Key(NativeKey::End);
    Key(NativeKey::Delete); // nothing after it
    EXPECT_EQ(edit->Text(), "0abcf9");
}

TEST_F(XEditTest, SelectAllThenTypingOrDeletingReplacesTheSelection) {
    Type("secret");
    Key('A', NativeModifier::Control);
    EXPECT_EQ(edit->SelectionStart(), 0);
    EXPECT_EQ(edit->SelectionEnd(), 6);
    Type("n");
    EXPECT_EQ(edit->Text(), "n");
    Type("ew");
    Key('A', NativeModifier::Control);
    Key(NativeKey::Right); // drops the selection at its end
    EXPECT_EQ(edit->Caret(), 3);
    EXPECT_EQ(edit->SelectionStart(), edit->SelectionEnd());
    Key('A', NativeModifier::Control);
    Key(NativeKey::Backspace);
    EXPECT_EQ(edit->Text(), "");
}

TEST_F(XEditTest, ClipboardCopiesCutsAndPastesWithinTheMaximum) {
    Type("hello");
    Key('A', NativeModifier::Control);
    Key('C', NativeModifier::Control);
    EXPECT_EQ(platform.clipboard, "hello");
    Key('X', NativeModifier::Control);
    EXPECT_EQ(edit->Text(), "");
    EXPECT_EQ(platform.clipboard, "hello");
    platform.clipboard = std::string(30, 'p');
    Key('V', NativeModifier::Control);
    EXPECT_EQ(edit->Text(), std::string(20, 'p')); // the first 20 of 30
    // Pasted text obeys the typing rule: no blanks, tabs, line breaks or controls reach a
    // password through the clipboard.
    Key('A', NativeModifier::Control);
    platform.clipboard = "two\nli nes\t~\x01";
    Key('V', NativeModifier::Control);
    EXPECT_EQ(edit->Text(), "twolines");
    // Never half of a surrogate pair at the limit.
    edit->SetEditText(std::string(19, 'a'));
    platform.clipboard = "\xF0\x9F\x98\x80"; // one character, two UTF-16 units
    Key('V', NativeModifier::Control);
    EXPECT_EQ(edit->Text(), std::string(19, 'a'));
}

TEST_F(XEditTest, APathFieldTakesAnyTextThroughTheInputMethod) {
    // A password field keeps the input method off: its characters come straight from the keys.
    EXPECT_FALSE(platform.lastWindow->textInput);
    Click(*root, 350, 50);
    edit->SetAccepted(UIXEdit::Accepted::AnyText);
    edit->SetMaxLength(8);
    Click(*root, 20, 20);
    EXPECT_TRUE(platform.lastWindow->textInput);
    for (char32_t c : std::u32string(U"照片 /\U0001F600\t\x7F")) {
        NativeEvent e;
        e.kind = NativeEventKind::Char;
        e.character = c;
        root->DispatchEvent(e);
    }
    // Blanks and any script are text here; controls are not; the emoji is two UTF-16 units.
    EXPECT_EQ(edit->Text(), "照片 /\xF0\x9F\x98\x80");
    EXPECT_EQ(edit->Caret(), 6);
    // The candidate window follows the caret.
    EXPECT_GT(platform.lastWindow->textCaret.x, edit->TextRect().left);
    // Two units of room left: a pair fits once, then nothing more, not even half of one.
    platform.clipboard = "\xF0\x9F\x98\x80\xF0\x9F\x98\x80";
    Key('V', NativeModifier::Control);
    EXPECT_EQ(edit->Text(), "照片 /\xF0\x9F\x98\x80\xF0\x9F\x98\x80");
    NativeEvent more;
    more.kind = NativeEventKind::Char;
    more.character = U'\U0001F600';
    root->DispatchEvent(more);
    EXPECT_EQ(edit->Caret(), 8);
    Click(*root, 350, 50);
    EXPECT_FALSE(platform.lastWindow->textInput); // leaving the field turns it off
}

TEST_F(XEditTest, TheCaretBlinksOnlyWhileFocused) {
    EXPECT_TRUE(edit->IsCaretShown());
    ASSERT_EQ(platform.timers.size(), 1u);
    EXPECT_EQ(platform.timers.begin()->second.period, UIXEdit::kBlinkMs);
    platform.Fire(platform.timers.begin()->first);
    EXPECT_FALSE(edit->IsCaretShown());
    Click(*root, 350, 50); // elsewhere: the root takes the focus
    EXPECT_TRUE(platform.timers.empty());
    EXPECT_FALSE(edit->IsCaretShown());
}

TEST_F(XEditTest, TheMousePlacesTheCaretAndDragsASelection) {
    Type("abcdefghij");
    int left = edit->TextRect().left;
    MoveMouse(*root, left, 20);
    Press(*root, left, 20);
    EXPECT_EQ(edit->Caret(), 0);
    MoveMouse(*root, left + 2000, 20); // beyond the end, still captured
    Release(*root, left + 2000, 20);
    EXPECT_EQ(edit->SelectionStart(), 0);
    EXPECT_EQ(edit->SelectionEnd(), 10);
    NativeEvent dbl;
    dbl.kind = NativeEventKind::DoubleClick;
    dbl.button = MouseButton::Left;
    dbl.x = left + 5;
    dbl.y = 20;
    Key(NativeKey::Home);
    root->DispatchEvent(dbl);
    EXPECT_EQ(edit->SelectionEnd() - edit->SelectionStart(), 10);
}

} // namespace
