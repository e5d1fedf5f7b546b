#pragma once
// One undecorated GTK top-level window that shows the framework's ARGB32 buffer.

#include "platform/NativeWindow.h"

#include <gtk/gtk.h>

class GtkNativeWindow final : public INativeWindow {
public:
    GtkNativeWindow(INativeWindowHost* host, const NativeWindowOptions& options, bool composited);
    ~GtkNativeWindow() override;

    void Show() override;
    void Hide() override;
    void Present() override;
    void Iconify() override;
    void Maximize(bool on) override;
    bool IsVisible() const override;
    bool IsIconified() const override { return m_iconified; }
    void Move(int x, int y) override;
    void Resize(int width, int height) override;
    NativeRect Frame() const override;
    void BeginMoveDrag(const NativeEvent& press) override;
    void BeginResizeDrag(NativeEdge edge, const NativeEvent& press) override;
    void SetCursor(NativeCursor cursor) override;
    void Invalidate(const NativeRect& rect) override;
    void SetShape(const std::vector<NativeRect>& keep) override;
    bool IsTranslucent() const override { return m_translucent; }
    void SetSensitive(bool enabled) override;
    bool IsSensitive() const override;
    void SetTransientFor(INativeWindow* owner) override;
    void SetTitle(std::string_view title) override;
    void GrabFocus() override;
    void SetTextInput(bool on, const NativeRect& caret) override;

    GtkWindow* Widget() const { return m_window; }

private:
    static gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer self);
    static gboolean OnMotion(GtkWidget*, GdkEventMotion* event, gpointer self);
    static gboolean OnButton(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean OnScroll(GtkWidget*, GdkEventScroll* event, gpointer self);
    static gboolean OnCrossing(GtkWidget*, GdkEventCrossing* event, gpointer self);
    static gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer self);
    static gboolean OnFocus(GtkWidget*, GdkEventFocus* event, gpointer self);
    static gboolean OnConfigure(GtkWidget*, GdkEventConfigure* event, gpointer self);
    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer self);
    static gboolean OnMap(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean OnUnmap(GtkWidget*, GdkEvent*, gpointer self);
    static void OnRealize(GtkWidget*, gpointer self);
    static void OnInputCommit(GtkIMContext*, const gchar* text, gpointer self);

    void Deliver(const NativeEvent& event);

    INativeWindowHost* m_host;
    GtkWindow* m_window = nullptr;
    GtkIMContext* m_input = nullptr; // the input method, fed while m_textInput is on
    bool m_textInput = false;
    bool m_focused = false;
    bool m_translucent = false;
    bool m_iconified = false;
    bool m_sensitive = true;
    int m_width = 0;
    int m_height = 0;
    double m_scrollAccumulator = 0;
};
