// The phone endpoints behind the whole dispatcher on arbitrary request bytes, against a real
// library on a temporary storage root created once. The first byte picks the caller (the PC
// itself or another machine); the rest is the request: head up to the blank line, then body.
// Every answer must be a well-formed head of status 200 or 403 whose Content-Length is the
// body's length, or nothing at all.

#include "library/CHDBCenter.h"
#include "media/CHBitmap.h"
#include "media/CHJpegEncoder.h"
#include "media/JsonText.h"
#include "net/CHWebServer.h"
#include "net/PhoneEndpoints.h"
#include "platform/FileSystem.h"
#include "shell/AccessPoints.h"
#include "shell/CNotifyHub.h"
#include "tests/support/NullMainWnd.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Takes received files out of the way as the library would, without storing random bytes.
class SinkMainWnd : public NullMainWnd {
public:
    fs::path root;
    fs::path GetRootPath() override { return root; }
    void ImportUpload(const fs::path& file, const std::string&, const std::string&,
                      std::function<void(int64_t)> done) override {
        std::error_code ec;
        fs::remove(file, ec);
        done(0);
    }
    int ImportFileWithProgress(const fs::path& file, const std::string&,
                               const std::string&) override {
        std::error_code ec;
        fs::remove(file, ec);
        return 1;
    }
};

struct World {
    CNotifyHub hub;
    SinkMainWnd mainWnd;
    CHDBCenter db;
    CHWebServer server{0};
};

fs::path& BaseFolder() {
    static fs::path base;
    return base;
}

World* Setup() {
    char pattern[] = "/tmp/vellumo-fuzz-endpoints-XXXXXX";
    const char* made = mkdtemp(pattern);
    Check(made != nullptr);
    const fs::path base(made);
    BaseFolder() = base;
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(BaseFolder(), ec);
    });
    fs::create_directories(base / "tmp");
    fs::create_directories(base / "root" / "Repos");
    fs::create_directories(base / "root" / "Thumb");
    setenv("TMPDIR", (base / "tmp").c_str(), 1);
    setenv("XDG_DATA_HOME", (base / "xdg").c_str(), 1);
    setenv("TZ", "UTC", 1);

    auto* world = new World;
    world->db.SetServicePort(-1);
    world->db.SetMachineIdSource([] { return std::string("0123456789ABCDEF0123456789ABCDEF"); });
    Check(world->db.OpenLibrary(base / "root") == 1);
    world->mainWnd.root = base / "root";
    PublishAccessPoints(&world->mainWnd, &world->db, nullptr, &world->hub);
    world->db.SetConfig("auth_passwd", "pw");
    world->db.SetAuth("dev", 1, "Dev");

    // One real photo, known by a token and filed in an album, so the browse paths find data.
    CHBitmap bitmap;
    std::string jpeg;
    Check(bitmap.Create(64, 48, 24) && CHJpegEncoder::Encode(bitmap, 85, jpeg));
    const fs::path photo = base / "incoming" / "IMG_1.JPG";
    fs::create_directories(photo.parent_path());
    Check(WriteWholeFile(photo, jpeg));
    world->db.QueueImport(photo, "dev", nullptr, 0, "dG9r");
    Check(world->db.WaitIdle(30000));
    Pid pid = world->db.FindPidByMd5("dG9r");
    Check(pid != 0);
    Json::Value albums;
    albums["albums"]["Trip"]["images"].append(Json::Int64(pid));
    albums["albums"]["Trip"]["albums"]["Day"]["images"].append(Json::Int64(pid));
    world->db.WriteConfigJson("albumCache", albums);
    world->db.CloseLibrary();
    Check(world->db.OpenLibrary(base / "root") == 1);

    world->server.SetPagesFolder(base / "no-pages");
    RegisterPhoneEndpoints(world->server);
    return world;
}

World& TheWorld() {
    static World* world = Setup();
    return *world;
}

void CheckResponse(const std::string& response) {
    if (response.empty()) {
        return;
    }
    Check(response.rfind("HTTP/1.1 200 OK\r\n", 0) == 0 ||
          response.rfind("HTTP/1.1 403 Forbidden\r\n", 0) == 0);
    size_t headEnd = response.find("\r\n\r\n");
    Check(headEnd != std::string::npos);
    std::string_view head(response.data(), headEnd + 2);
    size_t at = head.find("\r\nContent-Length: ");
    if (at != std::string_view::npos) {
        at += 18;
        size_t end = head.find("\r\n", at);
        Check(std::string(head.substr(at, end - at)) ==
              std::to_string(response.size() - headEnd - 4));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    World& world = TheWorld();
    const std::string peer = (data[0] & 1) != 0 ? "127.0.0.1" : "192.168.1.20";
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    size_t blank = input.find("\r\n\r\n");
    std::string head(input.substr(0, blank == std::string_view::npos ? input.size() : blank + 4));
    std::string body(blank == std::string_view::npos ? std::string_view()
                                                     : input.substr(blank + 4));
    std::string response;
    world.server.HandleRequest(std::move(head), std::move(body), {peer, true}, response);
    CheckResponse(response);
    return 0;
}
