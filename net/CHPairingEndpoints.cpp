#include "net/CHPairingEndpoints.h"

#include "library/IDBCenter.h"
#include "media/Base64.h"
#include "media/JsonText.h"
#include "media/TextCodec.h"
#include "media/TextUtil.h"
#include "net/QueryNumbers.h"
#include "pairing/MachineId.h"
#include "platform/Dialogs.h"
#include "shell/AccessPoints.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>

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

CHPairingEndpoints::CHPairingEndpoints(HostNameFn hostName, CHAuthThrottle::NowFn now)
    : m_hostName(hostName ? std::move(hostName) : HostNameFn(SystemHostName)),
      m_throttle(CHAuthThrottle::kMaxFailures, CHAuthThrottle::kWindow, std::move(now)) {}

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
    // A request without a device type has nothing to store and is refused like a wrong one.
    if (db == nullptr || !IsAcceptableKey(key) || typeText.empty() ||
        static_cast<uint32_t>(type) > 1 || !request.HasQuery("passwd")) {
        return;
    }
    // No pairing password yet (first run not finished): nobody can pair.
    const std::string stored = db->GetConfig(kPasswordKey);
    if (stored.empty()) {
        return;
    }
    const CHAuthThrottle::Verdict verdict = m_throttle.Admit(request.peer);
    if (verdict != CHAuthThrottle::Verdict::Admitted) {
        LogFailure(request.peer, verdict, m_throttle.PeerFailures(request.peer),
                   m_throttle.GlobalFailures());
        return;
    }
    if (!PasswordsMatch(request.Query("passwd"), stored)) {
        LogFailure(request.peer, verdict, m_throttle.PeerFailures(request.peer),
                   m_throttle.GlobalFailures());
        return;
    }
    m_throttle.Succeeded(request.peer);
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

bool CHPairingEndpoints::IsAcceptableKey(std::string_view key) {
    if (key.empty() || key == kLocalDeviceKey || MakeValidUtf8(key) != key) {
        return false;
    }
    for (char c : key) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return false;
        }
    }
    // C1 controls (U+0080..U+009F) are two bytes in UTF-8: 0xC2 0x80..0x9F.
    for (size_t i = 0; i + 1 < key.size(); ++i) {
        if (static_cast<unsigned char>(key[i]) == 0xC2 &&
            static_cast<unsigned char>(key[i + 1]) <= 0x9F) {
            return false;
        }
    }
    return true;
}

void CHPairingEndpoints::LogFailure(const std::string& peer, CHAuthThrottle::Verdict verdict,
                                    int peerFailures, int allFailures) {
    if (!IsHeadlessMode()) {
        return;
    }
    const char* what = verdict == CHAuthThrottle::Verdict::Admitted ? "wrong pairing password"
                       : verdict == CHAuthThrottle::Verdict::PeerLimited
                           ? "pairing refused, too many wrong passwords"
                           : "pairing locked for everyone, too many wrong passwords";
    std::fprintf(stderr,
                 "Pairing: %s from %s (%d from this address, %d from all in the last %lld s)\n",
                 what, peer.c_str(), peerFailures, allFailures,
                 static_cast<long long>(CHAuthThrottle::kWindow.count()));
}
