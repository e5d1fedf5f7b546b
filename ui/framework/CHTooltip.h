#pragma once
// A small pop-up window with one line of text, shown near the pointer for the element under it.

#include "ui/framework/CHWindow.h"

#include <string>

typedef struct _cairo_surface cairo_surface_t;

class CHTooltip : public CHWindow {
public:
    static constexpr int kPadding = 6;

    CHTooltip() = default;
    ~CHTooltip() override;

    // Shows text with its top-left corner at the screen point; false without a platform.
    bool ShowAt(int rootX, int rootY, const std::string& text);
    void Hide();
    bool IsShown() const;
    const std::string& Text() const { return m_text; }

protected:
    NativePixels OnPaint(const NativeRect& dirty) override;
    void OnClose() override { Hide(); }

private:
    void Render(int width, int height);

    std::string m_text;
    cairo_surface_t* m_surface = nullptr;
};
