#pragma once
// The single-line text input (storage path, pairing password). Typing inserts the accepted
// characters at the caret (replacing a selection) up to the maximum length: the printable ASCII
// characters 33..125 for a password, any text (through the input method) for a path;
// Backspace, Delete, Home, End, Left, Right, Escape, Ctrl+A/C/X/V edit as usual; the mouse
// places the caret and drags a selection, a double click selects all. Every change reports
// kNotifyTextChanged. While focused, the caret blinks on a 500 ms element timer.

#include "ui/framework/UIEditBox.h"

#include <string>

class UIXEdit : public UIEditBox {
public:
    static constexpr int kBlinkMs = 500;
    static constexpr int kUnlimited = -1;

    enum class Accepted {
        PasswordChars, // '!' .. '}': no blanks, no '~', nothing a phone keyboard can't type
        AnyText,       // every character but controls; typed through the input method
    };

    UIXEdit() = default;
    ~UIXEdit() override;

    // In UTF-16 units, as the text is counted; kUnlimited for none.
    void SetMaxLength(int length) { m_maxLength = length; }
    int MaxLength() const { return m_maxLength; }
    void SetAccepted(Accepted accepted) { m_accepted = accepted; }
    bool Accepts(char32_t character) const;
    void SetEditText(const std::string& text); // replaces the text, caret at the end
    // The same, so that a caller holding the plain box cannot leave the edit buffer behind.
    void SetText(std::string text) override {
        if (text != m_text)
            SetEditText(text);
    }
    int Caret() const { return m_caret; }
    // Selection as [start, end) in UTF-16 units; empty when start == end.
    int SelectionStart() const { return std::min(m_anchor, m_caret); }
    int SelectionEnd() const { return std::max(m_anchor, m_caret); }
    bool IsCaretShown() const { return m_caretShown; }

    void Draw(cairo_t* cr, const CHRect& rect, const CHRect& dirty) override;
    bool OnElementChar(char32_t character) override;
    bool OnElementKeyDown(uint32_t key, unsigned modifiers) override;
    bool OnElementLButtonDown(int x, int y) override;
    bool OnElementLDoubleClick(int x, int y) override;
    bool OnElementMouseMove(int x, int y) override;
    bool OnElementLButtonUp(int x, int y) override;
    void OnFocusGained(UIObject* losing) override;
    void OnFocusLost(UIObject* gaining) override;
    void OnElementTimer(int timerId) override;

private:
    bool OnClipboardKey(uint32_t key); // Ctrl+A, C, X, V
    // The characters of text this field accepts, in UTF-16.
    std::u16string AcceptedPart(const std::string& text) const;
    void Commit(); // the UTF-16 buffer back into the shown text, with the notification
    void ReplaceSelection(const std::u16string& insert);
    bool DeleteSelection();
    int Step(int position, int direction) const; // one character, surrogate pairs whole
    int PositionAt(int x) const;
    int TextX(int position) const;
    void StopBlink();
    // Tells the host window whether keys go to the input method, and where the caret is.
    void UpdateTextInput(bool on);

    std::u16string m_buffer;
    int m_maxLength = kUnlimited;
    Accepted m_accepted = Accepted::PasswordChars;
    int m_caret = 0;
    int m_anchor = 0;
    int m_scroll = 0; // pixels the text is shifted left to keep the caret in view
    bool m_caretShown = false;
    bool m_selecting = false;
    int m_blinkTimer = 0;
};
