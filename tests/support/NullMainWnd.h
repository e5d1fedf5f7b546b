#pragma once
// A controller that does nothing, for tests and benchmarks that run the library and the
// endpoints without the real one. Subclasses override what their scenario needs.

#include "shell/IMainWnd.h"

#include <filesystem>
#include <string>
#include <vector>

class NullMainWnd : public IMainWnd {
public:
    virtual ~NullMainWnd() = default;
    void* GetHwnd() override { return nullptr; }
    void* GetInstance() override { return nullptr; }
    void* GetFont(bool) override { return nullptr; }
    fs::path GetRootPath() override { return {}; }
    bool SetRootPath(const fs::path&) override { return false; }
    fs::path GetReposPath() override { return {}; }
    fs::path GetThumbPath() override { return {}; }
    bool SetAutoStart(bool) override { return false; }
    bool SetTrayTip(const std::string&) override { return true; }
    std::string GetLocalIP() override { return {}; }
    void ImportLocalFiles(const std::vector<fs::path>&) override {}
    int ImportFileWithProgress(const fs::path&, const std::string&, const std::string&) override {
        return 0;
    }
    void ImportUpload(const fs::path&, const std::string&, const std::string&,
                      std::function<void(int64_t)> done) override {
        if (done) {
            done(0);
        }
    }
    bool ShowBalloon(const std::string&, const std::string&) override { return true; }
    void AddCount(int, int) override {}
    void AddCountItem(int, const std::string&) override {}
    void SetCount(int, int) override {}
};
