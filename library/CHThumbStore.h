#pragma once
// The thumbnail store: 32 SQLite files "<thumb folder>/N.thumb", N = (pid & 31) + 1, one table
// "t<w>x<h>" per size, plus the asynchronous thumbnail service. Owned by CHDBCenter.

#include "library/IDBCenter.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class CHThumbStore {
public:
    // imagePathOf gives the full path of a pid's photo file, empty when not in the library.
    using ImagePathFn = std::function<fs::path(Pid)>;
    explicit CHThumbStore(ImagePathFn imagePathOf);
    ~CHThumbStore(); // stops and joins the workers, closes the stores
    CHThumbStore(const CHThumbStore&) = delete;
    CHThumbStore& operator=(const CHThumbStore&) = delete;

    // The folder the stores open from on their next use.
    void SetFolder(const fs::path& thumbFolder);
    // Stored thumbnail, or made from the photo, stored and returned; the photo's own bytes when
    // it cannot be decoded. Width/height are clamped; 32767 means "free".
    bool GetThumbnail(Pid pid, int width, int height, std::string& out);
    bool GetStoredThumbnail(Pid pid, int width, int height, std::string& out);
    bool PutThumbnail(Pid pid, int width, int height, std::string_view bytes);
    void DeleteThumbnails(Pid pid);
    int RequestThumbnail(const ThumbRequest& request);
    int CancelThumbnailRequest(const ThumbRequest& request);
    // Closes every open store (CloseLibrary); stores still in use close when released.
    void CloseStores();
    // Stops and joins the asynchronous workers; pending requests are dropped.
    void Shutdown();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
