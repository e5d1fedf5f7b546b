#pragma once
// "/echo" and "/echo2" (who is this PC) and "/auth" (pair a phone with the pairing password).

#include "net/CHAuthThrottle.h"
#include "net/HttpRequest.h"
#include "net/HttpResponse.h"
#include "platform/Version.h"

#include <json/value.h>

#include <functional>
#include <string>
#include <string_view>

class CHPairingEndpoints {
public:
    // Fills the computer's name (UTF-8); false when it cannot be read.
    using HostNameFn = std::function<bool(std::string& name)>;

    static constexpr char kHost[] = "pc";
    static constexpr const char* kVersion = kVellumoVersion;
    static constexpr char kPasswordKey[] = "auth_passwd";

    explicit CHPairingEndpoints(HostNameFn hostName = SystemHostName,
                                CHAuthThrottle::NowFn now = nullptr);

    void HandleEcho(const HttpRequest& request, HttpResponse& response) const;
    void HandleEcho2(const HttpRequest& request, HttpResponse& response) const;
    void HandleAuth(const HttpRequest& request, HttpResponse& response);

    // gethostname as UTF-8.
    static bool SystemHostName(std::string& name);
    // {"host", "id", "version"} of this PC.
    static Json::Value IdentityObject();
    // Case-insensitive comparison of two UTF-8 passwords; text that is not UTF-8 matches
    // nothing.
    static bool PasswordsMatch(std::string_view given, std::string_view stored);
    // A device key that can be stored and listed: valid UTF-8 without control characters, and
    // not "localhost", the name under which the library files photos added on this PC.
    static bool IsAcceptableKey(std::string_view key);

private:
    // Each refused guess is a line on stderr when headless: someone may be trying passwords.
    static void LogFailure(const std::string& peer, CHAuthThrottle::Verdict verdict,
                           int peerFailures, int allFailures);

    HostNameFn m_hostName;
    CHAuthThrottle m_throttle;
};
