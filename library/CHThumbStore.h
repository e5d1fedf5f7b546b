#pragma once
// The thumbnail store: 32 SQLite files "<thumb folder>/N.thumb", N = (pid & 31) + 1, one table
// "t<w>x<h>" per size, plus the asynchronous thumbnail service. Owned by CHDBCenter.

#include "library/IDBCenter.h"

#include <cstdint>
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

    // Largest side a request may ask for; larger ones are served at this size.
    static constexpr int kMaxSide = 4096;
    // Sizes kept per store file; thumbnails of further sizes are made but not stored.
    static constexpr int64_t kMaxSizeTables = 64;
    // A requested side as the store uses it: negative -> 0, above kMaxSide -> kMaxSide,
    // kThumbFree unchanged.
    static int ClampSide(int side);
    // The store file number of a pid, 1..32.
    static int StoreNumber(Pid pid);
    // "t<w>x<h>" for clamped sides.
    static std::string TableName(int width, int height);
    // The JPEG GetThumbnail stores for a photo file's bytes at that size (sides clamped,
    // kThumbFree following the aspect ratio). False when the bytes cannot be decoded.
    static bool MakeThumbnail(std::string_view photo, int width, int height, std::string& jpeg);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
