#include "ui/framework/UIXEdit.h"

#include "media/TextCodec.h"
#include "ui/framework/UIGeometry.h"
#include "ui/framework/UISkinText.h"

#include <cairo.h>

#include <algorithm>

namespace {
bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

std::u16string Utf16Of(char32_t c) {
    if (c < 0x10000)
        return std::u16string(1, static_cast<char16_t>(c));
    c -= 0x10000;
    return {static_cast<char16_t>(0xD800 + (c >> 10)), static_cast<char16_t>(0xDC00 + (c & 0x3FF))};
}
} // namespace

UIXEdit::~UIXEdit() {
    StopBlink();
}

void UIXEdit::SetEditText(const std::string& text) {
    m_buffer = ToWide(SanitizeUiText(text));
    if (m_maxLength >= 0 && static_cast<int>(m_buffer.size()) > m_maxLength)
        m_buffer.resize(m_maxLength);
    m_caret = m_anchor = static_cast<int>(m_buffer.size());
    Commit();
}

void UIXEdit::Commit() {
    m_text = ToNarrow(m_buffer);
    // Keep the caret inside the visible part of the text.
    int width = RectWidth(TextRect());
    int caretX = TextX(m_caret);
    if (caretX - m_scroll > width)
        m_scroll = caretX - width;
    if (caretX - m_scroll < 0)
        m_scroll = caretX;
    Invalidate();
    if (FocusedElement() == this)
        UpdateTextInput(m_accepted == Accepted::AnyText);
    NotifyParent(this, kNotifyTextChanged, Id());
}

int UIXEdit::Step(int position, int direction) const {
    int size = static_cast<int>(m_buffer.size());
    if (direction < 0) {
        if (position <= 0)
            return 0;
        --position;
        if (position > 0 && IsLowSurrogate(m_buffer[position]) &&
            IsHighSurrogate(m_buffer[position - 1]))
            --position;
        return position;
    }
    if (position >= size)
        return size;
    ++position;
    if (position < size && IsLowSurrogate(m_buffer[position]) &&
        IsHighSurrogate(m_buffer[position - 1]))
        ++position;
    return position;
}

bool UIXEdit::DeleteSelection() {
    int start = SelectionStart(), end = SelectionEnd();
    if (start == end)
        return false;
    m_buffer.erase(start, end - start);
    m_caret = m_anchor = start;
    return true;
}

void UIXEdit::ReplaceSelection(const std::u16string& insert) {
    DeleteSelection();
    std::u16string piece = insert;
    if (m_maxLength >= 0) {
        int room = std::max(m_maxLength - static_cast<int>(m_buffer.size()), 0);
        if (static_cast<int>(piece.size()) > room) {
            piece.resize(room);
            if (!piece.empty() && IsHighSurrogate(piece.back()))
                piece.pop_back(); // never half a character
        }
    }
    m_buffer.insert(m_caret, piece);
    m_caret = m_anchor = m_caret + static_cast<int>(piece.size());
}

bool UIXEdit::Accepts(char32_t c) const {
    if (m_accepted == Accepted::PasswordChars)
        return c >= 33 && c <= 125;
    bool control = c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029;
    bool surrogate = c >= 0xD800 && c <= 0xDFFF;
    return !control && !surrogate && c <= 0x10FFFF;
}

bool UIXEdit::OnElementChar(char32_t character) {
    if (!Accepts(character))
        return false;
    std::u16string unit = Utf16Of(character);
    int kept = static_cast<int>(m_buffer.size()) - (SelectionEnd() - SelectionStart());
    if (m_maxLength >= 0 && kept + static_cast<int>(unit.size()) > m_maxLength)
        return true; // no room: the selection stays as it is
    ReplaceSelection(unit);
    Commit();
    return true;
}

std::u16string UIXEdit::AcceptedPart(const std::string& text) const {
    // A line break counts as a blank; then every character must pass the typing rule.
    std::u16string wide = ToWide(SanitizeUiText(text)), accepted;
    for (size_t i = 0; i < wide.size(); ++i) {
        char32_t c = wide[i];
        if (IsHighSurrogate(wide[i]) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1]))
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
        if (Accepts(c))
            accepted += Utf16Of(c);
    }
    return accepted;
}

bool UIXEdit::OnClipboardKey(uint32_t key) {
    INativePlatform* platform = NativePlatform();
    switch (key) {
    case 'A':
        m_anchor = 0;
        m_caret = static_cast<int>(m_buffer.size());
        Invalidate();
        return true;
    case 'C':
    case 'X':
        if (platform && SelectionStart() != SelectionEnd())
            platform->SetClipboardText(
                ToNarrow(m_buffer.substr(SelectionStart(), SelectionEnd() - SelectionStart())));
        if (key == 'X' && DeleteSelection())
            Commit();
        return true;
    case 'V': {
        std::string pasted;
        if (platform && platform->GetClipboardText(pasted)) {
            ReplaceSelection(AcceptedPart(pasted)); // pasted text obeys the typing rule
            Commit();
        }
        return true;
    }
    default:
        return false;
    }
}

bool UIXEdit::OnElementKeyDown(uint32_t key, unsigned modifiers) {
    if ((modifiers & NativeModifier::Control) != 0)
        return OnClipboardKey(key);
    int size = static_cast<int>(m_buffer.size());
    switch (key) {
    case NativeKey::Backspace:
        if (!DeleteSelection() && m_caret > 0) {
            int from = Step(m_caret, -1);
            m_buffer.erase(from, m_caret - from);
            m_caret = m_anchor = from;
        }
        Commit();
        return true;
    case NativeKey::Delete:
        if (!DeleteSelection() && m_caret < size)
            m_buffer.erase(m_caret, Step(m_caret, 1) - m_caret);
        Commit();
        return true;
    case NativeKey::Home:
        m_caret = m_anchor = 0;
        break;
    case NativeKey::End:
        m_caret = m_anchor = size;
        break;
    case NativeKey::Left:
        // A selection collapses to its start; otherwise one character back.
        m_caret = m_anchor =
            SelectionStart() != SelectionEnd() ? SelectionStart() : Step(m_caret, -1);
        break;
    case NativeKey::Right:
        m_caret = m_anchor = SelectionStart() != SelectionEnd() ? SelectionEnd() : Step(m_caret, 1);
        break;
    case NativeKey::Escape:
        m_caretShown = false;
        StopBlink();
        break;
    default:
        return false;
    }
    Invalidate();
    return true;
}

int UIXEdit::TextX(int position) const {
    if (position <= 0)
        return 0;
    return MeasureSkinTextWidth(ToNarrow(m_buffer.substr(0, position)), m_textStyle.font);
}

int UIXEdit::PositionAt(int x) const {
    int local = x - TextRect().left + m_scroll;
    int size = static_cast<int>(m_buffer.size());
    int previousX = 0;
    for (int position = 0; position < size;) {
        int next = Step(position, 1);
        int nextX = TextX(next);
        if (local < (previousX + nextX) / 2)
            return position;
        previousX = nextX;
        position = next;
    }
    return size;
}

bool UIXEdit::OnElementLButtonDown(int x, int) {
    m_caret = m_anchor = PositionAt(x);
    m_selecting = true;
    SetCapture();
    Invalidate();
    return true;
}

bool UIXEdit::OnElementLDoubleClick(int, int) {
    m_anchor = 0;
    m_caret = static_cast<int>(m_buffer.size());
    Invalidate();
    return true;
}

bool UIXEdit::OnElementMouseMove(int x, int) {
    if (!m_selecting || !HasCapture())
        return false;
    int position = PositionAt(x);
    if (position != m_caret) {
        m_caret = position;
        Invalidate();
    }
    return true;
}

bool UIXEdit::OnElementLButtonUp(int, int) {
    m_selecting = false;
    ReleaseCapture();
    return true;
}

void UIXEdit::UpdateTextInput(bool on) {
    INativeWindow* window = HostWindow();
    if (window == nullptr)
        return;
    CHRect area = TextRect();
    int caretX = area.left - m_scroll + TextX(m_caret);
    window->SetTextInput(on, {caretX, area.top, 1, RectHeight(area)});
}

void UIXEdit::OnFocusGained(UIObject*) {
    UpdateTextInput(m_accepted == Accepted::AnyText);
    m_caretShown = true;
    if (!m_blinkTimer)
        m_blinkTimer = SetElementTimer(kBlinkMs);
    Invalidate();
}

void UIXEdit::OnFocusLost(UIObject*) {
    UpdateTextInput(false);
    StopBlink();
    m_caretShown = false;
    m_selecting = false;
    ReleaseCapture();
    Invalidate();
}

void UIXEdit::StopBlink() {
    if (m_blinkTimer)
        KillElementTimer(m_blinkTimer);
    m_blinkTimer = 0;
}

void UIXEdit::OnElementTimer(int timerId) {
    if (timerId != m_blinkTimer)
        return;
    m_caretShown = !m_caretShown;
    Invalidate(TextRect());
}

void UIXEdit::Draw(cairo_t* cr, const CHRect& rect, const CHRect&) {
    CHRect area = TextRect();
    DrawField(cr, rect);
    cairo_save(cr);
    cairo_rectangle(cr, area.left, area.top, RectWidth(area), RectHeight(area));
    cairo_clip(cr);
    int x0 = area.left - m_scroll;
    if (SelectionStart() != SelectionEnd() && FocusedElement() == this) {
        int from = x0 + TextX(SelectionStart()), to = x0 + TextX(SelectionEnd());
        cairo_set_source_rgba(cr, 0x3A / 255.0, 0x6B / 255.0, 0xED / 255.0, 0.25);
        cairo_rectangle(cr, from, area.top + 4, to - from, RectHeight(area) - 8);
        cairo_fill(cr);
    }
    DrawSkinText(cr, m_text, {x0, area.top, area.right + m_scroll, area.bottom}, m_textStyle.font,
                 m_textStyle.color, kTextVCenter | kTextSingleLine);
    if (m_caretShown && FocusedElement() == this) {
        int caretX = x0 + TextX(m_caret);
        cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
        cairo_rectangle(cr, caretX, area.top + 6, 1, RectHeight(area) - 12);
        cairo_fill(cr);
    }
    cairo_restore(cr);
}
