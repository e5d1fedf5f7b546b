#include "net/CHBrowseEndpoints.h"

#include "library/IDBCenter.h"
#include "media/Base64.h"
#include "media/JsonText.h"
#include "media/TextUtil.h"
#include "media/UrlDecode.h"
#include "net/QueryNumbers.h"
#include "platform/FileSystem.h"
#include "shell/AccessPoints.h"

#include <cstdint>

namespace {

void AnswerJson(HttpResponse& response, const Json::Value& document) {
    response.status = 200;
    response.contentType = "text/html";
    response.body = JsonStyled(document);
}

Json::Value TextArray(const NameList& names) {
    Json::Value array(Json::arrayValue);
    for (const std::string& name : names) {
        array.append(name);
    }
    return array;
}

} // namespace

std::string CHBrowseEndpoints::PathParameter(std::string_view path, std::string_view route) {
    std::string marker = "/" + std::string(route) + "/";
    size_t at = path.find(marker);
    if (at == std::string_view::npos) {
        return {};
    }
    return UrlDecode(path.substr(at + marker.size()));
}

int CHBrowseEndpoints::ClampThumbSide(int side) {
    if (side < 0) {
        return 0;
    }
    if (side == kFreeThumbSide) {
        return side;
    }
    return side > kMaxThumbSide ? kMaxThumbSide : side;
}

std::string CHBrowseEndpoints::JoinAlbumPath(std::string_view parent, std::string_view name) {
    if (parent.empty() || parent.back() == '/') {
        return std::string(parent) + std::string(name);
    }
    return std::string(parent) + "/" + std::string(name);
}

std::string CHBrowseEndpoints::HeaderSafe(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c != 0x7F) {
            out += ch;
        }
    }
    return out;
}

void CHBrowseEndpoints::HandleDevices(const HttpRequest&, HttpResponse& response) const {
    Json::Value document;
    if (IDBCenter* db = GetDBCenter()) {
        db->GetDevicesJson(document);
    }
    AnswerJson(response, document);
}

void CHBrowseEndpoints::HandleAlbum(const HttpRequest& request, HttpResponse& response) const {
    const std::string parent = PathParameter(request.path, "album");
    Json::Value document;
    if (IDBCenter* db = GetDBCenter()) {
        NameList names;
        db->ListSubAlbums(parent, names);
        for (const std::string& name : names) {
            // The library resolves album paths from the top of the tree, so the phone's next
            // request and the cover lookup need the whole path, not the name alone.
            const std::string full = JoinAlbumPath(parent, name);
            std::vector<std::string> pieces = SplitText(name, "/");
            const std::string last = pieces.empty() ? std::string() : pieces.back();
            Json::Value entry(Json::objectValue);
            entry["path"] = Base64Encode(full);
            entry["thumb"] = Json::Int64(db->GetLastAlbumPid(full));
            document["folder"][Base64Encode(last)] = entry;
        }
        PidList pids;
        db->GetAlbumOwnPids(parent, pids);
        for (Pid pid : pids) {
            document["images"].append(Json::Int64(pid));
        }
    }
    AnswerJson(response, document);
}

void CHBrowseEndpoints::HandleThumb(const HttpRequest& request, HttpResponse& response) const {
    const Pid pid = ParseInt64(PathParameter(request.path, "thumb"));
    int width = request.HasQuery("w") ? ClampThumbSide(ParseInt32(request.Query("w"))) : 0;
    int height = request.HasQuery("h") ? ClampThumbSide(ParseInt32(request.Query("h"))) : 0;
    if (width == 0 && height == 0) {
        width = kDefaultThumbSide;
        height = kDefaultThumbSide;
    }
    std::string bytes;
    if (IDBCenter* db = GetDBCenter()) {
        db->GetThumbnail(pid, width, height, bytes);
    }
    response.status = 200;
    response.contentType = "image/jpeg";
    response.body = std::move(bytes);
}

void CHBrowseEndpoints::HandleTime(const HttpRequest& request, HttpResponse& response) const {
    const std::string path = PathParameter(request.path, "time");
    const std::vector<std::string> pieces = SplitText(path, "/");
    Json::Value document;
    IDBCenter* db = GetDBCenter();
    if (db != nullptr && pieces.size() <= 2) {
        NameList names;
        if (pieces.empty()) {
            db->ListYears(names);
        } else if (pieces.size() == 1) {
            db->ListMonths(pieces[0], names);
        } else {
            db->ListDays(pieces[0], pieces[1], names);
        }
        if (!names.empty()) {
            document = TextArray(names);
        }
    } else if (db != nullptr && pieces.size() == 3) {
        PidList pids;
        db->GetTimePids(path, pids);
        for (Pid pid : pids) {
            document.append(Json::Int64(pid));
        }
    }
    AnswerJson(response, document);
}

void CHBrowseEndpoints::HandleDate(const HttpRequest& request, HttpResponse& response) const {
    const std::string& device = request.Query("device");
    Json::Value document;
    if (IDBCenter* db = GetDBCenter()) {
        NameList years;
        db->ListYears(years);
        for (const std::string& year : years) {
            NameList months;
            db->ListMonths(year, months);
            for (const std::string& month : months) {
                NameList days;
                db->ListDays(year, month, days);
                for (const std::string& day : days) {
                    PidList pids;
                    db->GetTimePids(year + "/" + month + "/" + day, pids);
                    Json::Value* list = nullptr;
                    for (Pid pid : pids) {
                        if (!device.empty() && !db->DeviceHasImage(device, pid)) {
                            continue;
                        }
                        if (list == nullptr) {
                            list = &document[year + "-" + month + "-" + day];
                        }
                        list->append(Json::Int64(pid));
                    }
                }
            }
        }
    }
    AnswerJson(response, document);
}

void CHBrowseEndpoints::HandleImage(const HttpRequest& request, HttpResponse& response) const {
    const Pid pid = ParseInt64(PathParameter(request.path, "image"));
    fs::path path;
    int64_t taken = 0;
    if (IDBCenter* db = GetDBCenter()) {
        path = db->GetImagePath(pid);
        taken = db->GetTakenTime(pid);
    }
    std::string bytes;
    if (!path.empty() && !ReadWholeFile(path, bytes)) {
        bytes.clear();
    }
    response.status = 200;
    response.contentType = "image/jpeg";
    response.SetHeader("FileName", HeaderSafe(path.filename().string()));
    // The phone reads the time as a signed 32-bit number: its low 32 bits.
    response.SetHeader("FileTime", std::to_string(static_cast<int32_t>(taken)));
    response.body = std::move(bytes);
}

void CHBrowseEndpoints::HandleExif(const HttpRequest& request, HttpResponse& response) const {
    const Pid pid = ParseInt64(PathParameter(request.path, "exif"));
    Json::Value document;
    if (IDBCenter* db = GetDBCenter()) {
        document = db->GetExif(pid);
    }
    AnswerJson(response, document);
}
