#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// The controller as the rest of the program sees it. Slot order is fixed. Texts are UTF-8.
class IMainWnd {
public:
    virtual void* GetHwnd() = 0;                          // 0
    virtual void* GetInstance() = 0;                      // 1
    virtual void* GetFont(bool bold) = 0;                 // 2
    virtual fs::path GetRootPath() = 0;                   // 3
    virtual bool SetRootPath(const fs::path& root) = 0;   // 4 (false: refused/failed)
    virtual fs::path GetReposPath() = 0;                  // 5
    virtual fs::path GetThumbPath() = 0;                  // 6
    virtual bool SetAutoStart(bool enable) = 0;           // 7
    virtual bool SetTrayTip(const std::string& text) = 0; // 8
    virtual std::string GetLocalIP() = 0;                 // 9
    virtual void ImportLocalFiles(const std::vector<fs::path>& paths) = 0; // 10
    virtual int ImportFileWithProgress(const fs::path& file, const std::string& deviceKey,
                                       const std::string& extra) = 0;                // 11
    virtual bool ShowBalloon(const std::string& title, const std::string& text) = 0; // 12
    virtual void AddCount(int key, int delta) = 0;                                   // 13
    virtual void AddCountItem(int key, const std::string& text) = 0;                 // 14
    virtual void SetCount(int key, int value) = 0;                                   // 15
    // Queues a received photo for the library; done(pid) is called exactly once, with 0 when
    // it was not stored (also when it is refused at once, e.g. while the storage root moves).
    virtual void ImportUpload(const fs::path& file, const std::string& deviceKey,
                              const std::string& token,
                              std::function<void(int64_t pid)> done) = 0; // 16

protected:
    ~IMainWnd() = default;
};
