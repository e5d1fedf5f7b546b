#include "net/CHPairingEndpoints.h"

#include "library/IDBCenter.h"
#include "media/Base64.h"
#include "media/JsonText.h"
#include "media/TextCodec.h"
#include "media/TextUtil.h"
#include "net/QueryNumbers.h"
#include "pairing/MachineId.h"
#include "shell/AccessPoints.h"

#include <unistd.h>

#include <cstdint>

namespace {

// Simple case folding of basic Latin, Latin-1, Greek and Cyrillic capitals.
char16_t FoldCase(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
        (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F)) {
        return static_cast<char16_t>(c + 0x20);
    }
    if (c >= 0x400 && c <= 0x40F) {
        return static_cast<char16_t>(c + 0x50);
    }
    return c;
}

void SetJson(HttpResponse& response, int status, const Json::Value& document) {
    response.status = status;
    response.contentType = "text/html";
    response.body = JsonStyled(document);
}

} // namespace

CHPairingEndpoints::CHPairingEndpoints(HostNameFn hostName)
    : m_hostName(hostName ? std::move(hostName) : HostNameFn(SystemHostName)) {}

bool CHPairingEndpoints::SystemHostName(std::string& name) {
    char buffer[512] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0) {
        return false;
    }
    name = MakeValidUtf8(buffer);
    return true;
}

Json::Value CHPairingEndpoints::IdentityObject() {
    std::string id;
    if (IDBCenter* db = GetDBCenter()) {
        id = db->GetMachineId();
    }
    if (id.empty()) {
        id = ::GetMachineId();
    }
    Json::Value identity(Json::objectValue);
    identity["host"] = kHost;
    identity["id"] = id;
    identity["version"] = kVersion;
    return identity;
}

bool CHPairingEndpoints::PasswordsMatch(std::string_view given, std::string_view stored) {
    std::u16string a = ToWide(given);
    std::u16string b = ToWide(stored);
    // ToWide gives "" for text that is not UTF-8; only a truly empty text may convert to "".
    if ((a.empty() && !given.empty()) || (b.empty() && !stored.empty()) || a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) {
            return false;
        }
    }
    return true;
}

void CHPairingEndpoints::HandleEcho(const HttpRequest&, HttpResponse& response) const {
    std::string name;
    if (!m_hostName(name)) {
        response.closeWithoutResponse = true;
        return;
    }
    std::string identity = JsonStyled(IdentityObject());
    std::erase(identity, '\n');
    response.status = 200;
    response.contentType = "text/html";
    response.SetHeader("X-Ext", Base64Encode(identity));
    response.body = name;
}

void CHPairingEndpoints::HandleEcho2(const HttpRequest&, HttpResponse& response) const {
    Json::Value document;
    int status = 403;
    std::string name;
    if (m_hostName(name)) {
        document = IdentityObject();
        document["name"] = name;
        status = 200;
    }
    SetJson(response, status, document);
}

void CHPairingEndpoints::HandleAuth(const HttpRequest& request, HttpResponse& response) {
    const std::string modal = TrimSpaces(request.Query("modal"));
    const std::string& key = request.Query("key");
    const std::string& typeText = request.Query("type");
    const int32_t type = ParseInt32(typeText);

    Json::Value document(Json::objectValue);
    document["status"] = "failed";
    SetJson(response, 403, document);

    IDBCenter* db = GetDBCenter();
    if (db == nullptr || !m_throttle.Allowed(request.peer)) {
        return;
    }
    // A request without a device type has nothing to store and is refused like a wrong one.
    if (key.empty() || typeText.empty() || static_cast<uint32_t>(type) > 1) {
        return;
    }
    if (!request.HasQuery("passwd")) {
        return;
    }
    // No pairing password yet (first run not finished): nobody can pair.
    const std::string stored = db->GetConfig(kPasswordKey);
    if (stored.empty()) {
        return;
    }
    if (!PasswordsMatch(request.Query("passwd"), stored)) {
        m_throttle.RecordFailure(request.peer);
        return;
    }
    if (!db->IsAuthorized(key)) {
        document["newAuthDevice"] = 1;
    }
    db->SetAuth(key, type, modal);
    document["status"] = "ok";
    Json::Value identity = IdentityObject();
    for (const std::string& member : identity.getMemberNames()) {
        document[member] = identity[member];
    }
    SetJson(response, 200, document);
}
