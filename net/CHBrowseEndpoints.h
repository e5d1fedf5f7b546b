#pragma once
// Read-only views of the library for the phone: devices, albums, the time tree, a per-day map,
// thumbnails, whole images and EXIF data.

#include "net/HttpRequest.h"
#include "net/HttpResponse.h"

#include <string>
#include <string_view>

class CHBrowseEndpoints {
public:
    static constexpr int kDefaultThumbSide = 150;
    static constexpr int kMaxThumbSide = 4096;
    static constexpr int kFreeThumbSide = 32767; // follows the photo's aspect ratio

    void HandleDevices(const HttpRequest& request, HttpResponse& response) const;
    void HandleAlbum(const HttpRequest& request, HttpResponse& response) const;
    void HandleThumb(const HttpRequest& request, HttpResponse& response) const;
    void HandleTime(const HttpRequest& request, HttpResponse& response) const;
    void HandleDate(const HttpRequest& request, HttpResponse& response) const;
    void HandleImage(const HttpRequest& request, HttpResponse& response) const;
    void HandleExif(const HttpRequest& request, HttpResponse& response) const;

    // Everything after the first "/<route>/" in the path, percent-decoded; "" when absent.
    static std::string PathParameter(std::string_view path, std::string_view route);
    // A requested thumbnail side: negative -> 0, above kMaxThumbSide -> kMaxThumbSide, the
    // free value kept.
    static int ClampThumbSide(int side);
    // parent + "/" + name, without a doubled separator; name alone at the top level.
    static std::string JoinAlbumPath(std::string_view parent, std::string_view name);
    // The file name as a header value: control characters removed.
    static std::string HeaderSafe(std::string_view text);
};
