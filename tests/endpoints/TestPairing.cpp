// Discovery and pairing as the phone sees them: exact answers of "/echo", "/echo2" and "/auth",
// the gate that follows pairing, and the password rules.

#include "PhoneFixture.h"
#include "media/Base64.h"
#include "media/JsonText.h"
#include "net/CHAuthThrottle.h"
#include "net/CHPairingEndpoints.h"
#include "pairing/PairingPayload.h"
#include "platform/Dialogs.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <thread>

namespace {

const std::string kIdentityLine = std::string("{\t\"host\" : \"pc\",\t\"id\" : \"") +
                                  kTestMachineId + "\",\t\"version\" : \"1.2\"}";
const std::string kFailedAuth = "HTTP/1.1 403 Forbidden\r\nConnection: Close\r\nContent-Length: "
                                "25\r\nContent-Type: text/html\r\nServer: Vellumo/1.2\r\n\r\n" +
                                StatusDocument("failed");
const std::string kGateRefusal = "HTTP/1.1 403 Forbidden\r\nConnection: Close\r\nContent-Length: "
                                 "19\r\nContent-Type: text/html\r\nServer: "
                                 "Vellumo/1.2\r\n\r\n{\"Status\":\"failed\"}";

std::string HostName() {
    char buffer[512] = {};
    gethostname(buffer, sizeof buffer - 1);
    return buffer;
}

std::string AuthOk(bool newDevice) {
    std::string body = std::string("{\n\t\"host\" : \"pc\",\n\t\"id\" : \"") + kTestMachineId +
                       "\",\n" + (newDevice ? "\t\"newAuthDevice\" : 1,\n" : "") +
                       "\t\"status\" : \"ok\",\n\t\"version\" : \"1.2\"\n}\n";
    return "HTTP/1.1 200 OK\r\nConnection: Close\r\nContent-Length: " +
           std::to_string(body.size()) +
           "\r\nContent-Type: text/html\r\nServer: Vellumo/1.2\r\n\r\n" + body;
}

} // namespace

TEST_F(PhoneTest, EchoAnswersAnyoneWithNameAndIdentity) {
    const std::string host = HostName();
    const std::string expected =
        "HTTP/1.1 200 OK\r\nConnection: Close\r\nContent-Length: " + std::to_string(host.size()) +
        "\r\nContent-Type: text/html\r\nServer: Vellumo/1.2\r\nX-Ext: " +
        Base64Encode(kIdentityLine) + "\r\n\r\n" + host;
    EXPECT_EQ(Phone().Get("/echo").raw, expected);
    EXPECT_EQ(Phone().Get("/echo/anything?key=nobody").raw, expected);
    EXPECT_EQ(Phone("127.0.0.1").Get("/echo").raw, expected);

    const std::string body = std::string("{\n\t\"host\" : \"pc\",\n\t\"id\" : \"") +
                             kTestMachineId + "\",\n\t\"name\" : \"" + host +
                             "\",\n\t\"version\" : \"1.2\"\n}\n";
    EXPECT_EQ(
        Phone().Get("/echo2?x=1").raw,
        "HTTP/1.1 200 OK\r\nConnection: Close\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\nContent-Type: text/html\r\nServer: Vellumo/1.2\r\n\r\n" + body);
    // The name matches what the pairing code shows the user.
    EXPECT_EQ(host, GetHostNameText());
}

TEST(PairingEndpoints, NoHostNameClosesEchoAndRefusesEcho2) {
    CHPairingEndpoints endpoints([](std::string&) { return false; });
    HttpRequest request;
    HttpResponse echo;
    endpoints.HandleEcho(request, echo);
    EXPECT_TRUE(echo.closeWithoutResponse);
    HttpResponse echo2;
    endpoints.HandleEcho2(request, echo2);
    EXPECT_EQ(echo2.status, 403);
    EXPECT_EQ(echo2.body, "null\n");
}

TEST_F(PhoneTest, PairingThenTheGateLetsTheDeviceIn) {
    // Before pairing, the device is a stranger everywhere behind the gate.
    EXPECT_EQ(Phone().Get("/devices?key=phone1").raw, kGateRefusal);
    EXPECT_EQ(Phone().Get("/devices").raw, kGateRefusal);
    EXPECT_EQ(Phone().Get("/auth?passwd=x&type=1").raw, kGateRefusal); // no key at all

    Db().SetConfig("auth_passwd", kTestPassword);
    // Letter case does not matter; the first pairing is reported as new.
    EXPECT_EQ(Phone().Get("/auth?key=phone1&passwd=pA55WORD&type=1&modal=%20My%20Phone%20").raw,
              AuthOk(true));
    EXPECT_EQ(Phone().Get("/auth?key=phone1&passwd=Pa55word&type=1&modal=%20My%20Phone%20").raw,
              AuthOk(false));
    EXPECT_EQ(Phone().Get("/auth?key=phone2&passwd=Pa55word&type=0&modal=++Pad++").raw,
              AuthOk(true));
    std::map<std::string, AuthEntry> auth;
    Db().GetAuthList(auth);
    ASSERT_EQ(auth.size(), 2u);
    // Raw query text: "%20" stays, only spaces at the ends are trimmed ('+' is not a space).
    EXPECT_EQ(auth["phone1"].name, "%20My%20Phone%20");
    EXPECT_EQ(auth["phone1"].type, 1);
    EXPECT_EQ(auth["phone2"].name, "++Pad++");
    EXPECT_EQ(auth["phone2"].type, 0);

    PhoneAnswer devices = Phone().Get("/devices?key=phone1");
    EXPECT_EQ(devices.Status(), 200);
    EXPECT_EQ(Phone().Get("/devices?key=phone3").raw, kGateRefusal);
}

TEST_F(PhoneTest, AuthRefusesEveryIncompleteOrWrongRequest) {
    // No pairing password stored yet: nobody pairs, not even with an empty one.
    EXPECT_EQ(Phone().Get("/auth?key=k&passwd=&type=1").raw, kFailedAuth);
    EXPECT_EQ(Phone().Get("/auth?key=k&passwd=x&type=1").raw, kFailedAuth);

    Db().SetConfig("auth_passwd", kTestPassword);
    const std::string good = std::string("passwd=") + kTestPassword;
    for (const std::string& query : std::vector<std::string>{
             "key=k&" + good,                      // no type
             "key=k&" + good + "&type=",           // type without a value
             "key=k&" + good + "&type=2",          // type out of range
             "key=k&" + good + "&type=-1",         // negative type
             "key=k&" + good + "&type=4294967297", // would wrap to 1 in 32 bits
             "key=k&" + good + "&type=99999999999999999999999",
             "key=&" + good + "&type=1",         // empty key
             "key=k&type=1",                     // no password
             "key=k&passwd=&type=1",             // empty password
             "key=k&passwd=Pa55wor&type=1",      // a prefix
             "key=k&passwd=Pa55word%20&type=1",  // raw, not decoded
             "key=k&passwd=Pa55word\xff&type=1", // not UTF-8
         }) {
        EXPECT_EQ(Phone().Get("/auth?" + query).raw, kFailedAuth) << query;
    }
    std::map<std::string, AuthEntry> auth;
    Db().GetAuthList(auth);
    EXPECT_TRUE(auth.empty());
    // Repeated parameters: the last one counts.
    EXPECT_EQ(
        Phone()
            .Get("/auth?key=k&passwd=wrong&type=5&passwd=" + std::string(kTestPassword) + "&type=0")
            .raw,
        AuthOk(true));
}

TEST_F(PhoneTest, PasswordGuessesAreThrottledPerAddress) {
    Db().SetConfig("auth_passwd", kTestPassword);
    for (int i = 0; i < CHAuthThrottle::kMaxFailures; ++i) {
        EXPECT_EQ(Phone().Get("/auth?key=k&type=1&passwd=guess" + std::to_string(i)).raw,
                  kFailedAuth);
    }
    // The right password from the guessing address is refused for now ...
    const std::string right = std::string("/auth?key=k&type=1&passwd=") + kTestPassword;
    EXPECT_EQ(Phone().Get(right).raw, kFailedAuth);
    EXPECT_FALSE(Db().IsAuthorized("k"));
    // ... while another address pairs normally.
    EXPECT_EQ(Phone("127.0.0.3").Get(right).raw, AuthOk(true));
}

TEST(AuthThrottle, FailuresExpireAfterTheWindow) {
    using Verdict = CHAuthThrottle::Verdict;
    auto now = CHAuthThrottle::Clock::time_point{} + std::chrono::hours(1);
    CHAuthThrottle throttle(3, std::chrono::seconds(60), [&now] { return now; });
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(throttle.Admit("a"), Verdict::Admitted);
        now += std::chrono::seconds(10);
    }
    EXPECT_EQ(throttle.Admit("a"), Verdict::PeerLimited);
    EXPECT_EQ(throttle.PeerFailures("a"), 3); // a refused guess is not counted again
    EXPECT_EQ(throttle.Admit("b"), Verdict::Admitted);
    throttle.Succeeded("b"); // a right password takes its count back
    EXPECT_EQ(throttle.PeerFailures("b"), 0);
    now += std::chrono::seconds(30); // the first failure is now 60 s old
    EXPECT_EQ(throttle.Admit("a"), Verdict::Admitted);
    EXPECT_EQ(throttle.Admit("a"), Verdict::PeerLimited);
    now += std::chrono::seconds(60);
    EXPECT_EQ(throttle.PeerFailures("a"), 0);
    EXPECT_EQ(throttle.TrackedPeers(), 0u);

    // Memory stays bounded whatever the number of addresses.
    CHAuthThrottle wide(
        3, std::chrono::seconds(60), [&now] { return now; }, 1 << 30);
    for (size_t i = 0; i < CHAuthThrottle::kMaxPeers + 100; ++i) {
        wide.Admit("10.0." + std::to_string(i));
    }
    EXPECT_LE(wide.TrackedPeers(), CHAuthThrottle::kMaxPeers);
}

// Guessing from ever new addresses: the budget shared by all of them, and lock-outs that grow.
TEST(AuthThrottle, AllAddressesShareABudgetWithGrowingLockouts) {
    using Verdict = CHAuthThrottle::Verdict;
    using std::chrono::seconds;
    auto now = CHAuthThrottle::Clock::time_point{} + std::chrono::hours(1);
    CHAuthThrottle throttle(CHAuthThrottle::kMaxFailures, CHAuthThrottle::kWindow,
                            [&now] { return now; });
    int address = 0;
    // Guesses from new addresses, one every second, until one is refused; how many got in.
    auto guessUntilLocked = [&] {
        int admitted = 0;
        while (throttle.Admit("10.1." + std::to_string(address++)) == Verdict::Admitted) {
            ++admitted;
            now += seconds(1);
        }
        return admitted;
    };
    EXPECT_EQ(guessUntilLocked(), CHAuthThrottle::kGlobalMaxFailures);
    std::vector<seconds> lockouts;
    for (int round = 0; round < 8; ++round) {
        seconds locked{0};
        while (throttle.LockedForAll()) {
            EXPECT_EQ(throttle.Admit("10.2.0." + std::to_string(round)), Verdict::LockedForAll);
            now += seconds(10);
            locked += seconds(10);
        }
        lockouts.push_back(locked);
        EXPECT_EQ(guessUntilLocked(), CHAuthThrottle::kGlobalMaxFailures) << round;
    }
    EXPECT_EQ(lockouts,
              (std::vector<seconds>{seconds(60), seconds(120), seconds(240), seconds(480),
                                    seconds(960), seconds(1920), seconds(3600), seconds(3600)}));
    // After a calm period the next lock-out is short again.
    while (throttle.LockedForAll()) {
        now += seconds(10);
    }
    now += CHAuthThrottle::kCalm + seconds(1);
    EXPECT_EQ(guessUntilLocked(), CHAuthThrottle::kGlobalMaxFailures);
    now += CHAuthThrottle::kFirstLockout;
    EXPECT_FALSE(throttle.LockedForAll());
}

TEST_F(PhoneTest, ManyAddressesGuessingLockPairingForEveryone) {
    Db().SetConfig("auth_passwd", kTestPassword);
    auto now = CHAuthThrottle::Clock::time_point{} + std::chrono::hours(1);
    CHPairingEndpoints endpoints(nullptr, [&now] { return now; });
    auto auth = [&](const std::string& peer, const std::string& key, const std::string& passwd) {
        HttpRequest request;
        request.peer = peer;
        request.query = {{"key", key}, {"passwd", passwd}, {"type", "1"}};
        HttpResponse response;
        endpoints.HandleAuth(request, response);
        return response.status;
    };
    for (int i = 0; i < CHAuthThrottle::kGlobalMaxFailures; ++i) {
        EXPECT_EQ(auth("192.168.7." + std::to_string(i), "k", std::to_string(10000000 + i)), 403);
    }
    // The budget is used up: the right password, from an address that never guessed, waits too.
    EXPECT_EQ(auth("198.51.100.1", "phone", kTestPassword), 403);
    EXPECT_FALSE(Db().IsAuthorized("phone"));
    now += CHAuthThrottle::kFirstLockout;
    EXPECT_EQ(auth("198.51.100.1", "phone", kTestPassword), 200);
    EXPECT_TRUE(Db().IsAuthorized("phone"));
}

// A burst of simultaneous guesses from one address: no more are compared than the limit allows,
// and each refusal is a line on stderr.
TEST_F(PhoneTest, SimultaneousGuessesAreCountedBeforeTheyAreCompared) {
    Db().SetConfig("auth_passwd", kTestPassword);
    CHPairingEndpoints endpoints;
    const bool headless = IsHeadlessMode();
    SetHeadlessMode(true);
    testing::internal::CaptureStderr();
    std::vector<std::thread> guessers;
    for (int t = 0; t < 8; ++t) {
        guessers.emplace_back([&endpoints, t] {
            for (int i = 0; i < 4; ++i) {
                HttpRequest request;
                request.peer = "198.51.100.9";
                request.query = {
                    {"key", "k"}, {"passwd", std::to_string(t * 10 + i)}, {"type", "1"}};
                HttpResponse response;
                endpoints.HandleAuth(request, response);
            }
        });
    }
    for (std::thread& guesser : guessers) {
        guesser.join();
    }
    const std::string log = testing::internal::GetCapturedStderr();
    SetHeadlessMode(headless);
    auto count = [&log](const std::string& what) {
        size_t n = 0;
        for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(count("Pairing: wrong pairing password from 198.51.100.9"),
              size_t{CHAuthThrottle::kMaxFailures})
        << log;
    EXPECT_EQ(count("Pairing: pairing refused, too many wrong passwords from 198.51.100.9"),
              size_t{32 - CHAuthThrottle::kMaxFailures})
        << log;
}

// A key is stored, listed in "/devices" and used as a folder and device name: it must be text,
// and it must not be the name under which this PC's own photos are filed.
TEST_F(PhoneTest, KeysThatCannotBeListedArePlainlyRefused) {
    Pair("phone1", "Phone");
    const std::string right = std::string("&type=1&passwd=") + kTestPassword;
    for (const std::string& key : std::vector<std::string>{"\xff\xfe", "ok\xc3", "a\x01z", "a\tz",
                                                           "a\x7fz", "a\xc2\x85z", "localhost"}) {
        EXPECT_EQ(Phone("127.0.0.3").Get("/auth?key=" + key + right).raw, kFailedAuth) << key;
        EXPECT_FALSE(Db().IsAuthorized(key));
    }
    EXPECT_EQ(Phone("127.0.0.3").Get("/auth?key=%E5%AF%86-Phone_1.x" + right).Status(), 200);
    EXPECT_EQ(Phone("127.0.0.3").Get("/auth?key=\xe5\xaf\x86" + right).Status(), 200);
    PhoneAnswer devices = Phone().Get("/devices?key=phone1");
    Json::Value document;
    EXPECT_TRUE(JsonParse(devices.body, document)) << devices.body;
    EXPECT_TRUE(CHPairingEndpoints::IsAcceptableKey("LocalHost")); // only the exact name is ours
}

TEST(PairingEndpoints, PasswordComparisonFoldsCaseOnly) {
    EXPECT_TRUE(CHPairingEndpoints::PasswordsMatch("ABCxyz", "abcXYZ"));
    EXPECT_TRUE(CHPairingEndpoints::PasswordsMatch("ÄÖÜ", "äöü"));
    EXPECT_TRUE(CHPairingEndpoints::PasswordsMatch("ПАРОЛЬ", "пароль"));
    EXPECT_TRUE(CHPairingEndpoints::PasswordsMatch("密码1", "密码1"));
    EXPECT_FALSE(CHPairingEndpoints::PasswordsMatch("abc", "abd"));
    EXPECT_FALSE(CHPairingEndpoints::PasswordsMatch("abc", "abc "));
    EXPECT_FALSE(CHPairingEndpoints::PasswordsMatch("\xff", ""));
    EXPECT_FALSE(CHPairingEndpoints::PasswordsMatch("", "\xff"));
    EXPECT_FALSE(CHPairingEndpoints::PasswordsMatch("a\xff", "a\xff"));
}
