#pragma once
// The main window as the panels and the settings pages see it, for tests without a display:
// the real core, the built-in skin, and a UI queue the test drains itself.

#include "platform/UiDispatcher.h"
#include "shell/CVellumoCore.h"
#include "ui/framework/UIResource.h"
#include "ui/windows/IPanelHost.h"

#include <functional>
#include <string>

class TestPanelHost final : public IPanelHost {
public:
    explicit TestPanelHost(CVellumoCore& core) : m_core(core) {}
    CVellumoCore& Core() override { return m_core; }
    CHUiDispatcher& Dispatcher() override { return m_ui; }
    IResource* Skin() override { return &skin; }
    void RequestRelayout() override {
        m_ui.Post([this] {
            if (relayout) {
                relayout();
            }
        });
    }
    bool IsWindowShown() override { return shown; }

    bool LoadSkin() {
        return skin.LoadFromFile(std::string(VELLUMO_BINARY_DIR) + "/resources/vellumo.uir");
    }
    // Runs UI tasks until none are left.
    void Drain() {
        while (m_ui.RunPending() > 0) {
        }
    }

    UIResource skin;
    std::function<void()> relayout;
    bool shown = true;

private:
    CVellumoCore& m_core;
    CHUiDispatcher m_ui;
};
