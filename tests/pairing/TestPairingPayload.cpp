#include "pairing/PairingPayload.h"

#include "media/Base64.h"
#include "pairing/LocalAddress.h"
#include "pairing/MachineId.h"
#include "shell/AccessPoints.h"
#include "tests/net/FakeDBCenter.h"

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

// Restores VELLUMO_PORT when the test ends.
class PortEnv {
public:
    PortEnv() {
        const char* old = std::getenv("VELLUMO_PORT");
        m_had = old != nullptr;
        if (m_had) {
            m_old = old;
        }
        ::unsetenv("VELLUMO_PORT");
    }
    ~PortEnv() {
        if (m_had) {
            ::setenv("VELLUMO_PORT", m_old.c_str(), 1);
        } else {
            ::unsetenv("VELLUMO_PORT");
        }
    }
    void Set(const char* value) { ::setenv("VELLUMO_PORT", value, 1); }

private:
    bool m_had = false;
    std::string m_old;
};

bool ParseJson(const std::string& text, Json::Value& out) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string error;
    return reader->parse(text.data(), text.data() + text.size(), &out, &error);
}

} // namespace

TEST(PairingPayload, ExactLayout) {
    PortEnv env;
    std::string expected =
        "{\"ip\":\"192.168.1.20\", \"port\":6639, \"passwd\":\"secret\", \"name\":\"" +
        Base64Encode(GetHostNameText()) + "\", \"id\":\"" + GetMachineId() +
        "\", \"host\":\"pc\", \"version\":\"1.2\"}";
    EXPECT_EQ(BuildPairingPayload("secret", "192.168.1.20"), expected);
    EXPECT_FALSE(GetHostNameText().empty());
}

TEST(PairingPayload, ValuesAreEscapedAndTheTextStaysJson) {
    PortEnv env;
    const std::string password = "a\"b\\c\nd\x01\x1f 密码";
    std::string payload = BuildPairingPayload(password, "");
    EXPECT_NE(payload.find("\"passwd\":\"a\\\"b\\\\c\\nd\\u0001\\u001F 密码\""), std::string::npos)
        << payload;
    Json::Value root;
    ASSERT_TRUE(ParseJson(payload, root)) << payload;
    EXPECT_EQ(root["passwd"].asString(), password);
    EXPECT_EQ(root["ip"].asString(), "");
    EXPECT_EQ(root["port"].asInt(), 6639);
    EXPECT_EQ(root["host"].asString(), "pc");
    EXPECT_EQ(root["version"].asString(), "1.2");
    EXPECT_EQ(root["id"].asString(), GetMachineId());
    EXPECT_EQ(Base64Decode(root["name"].asString()), GetHostNameText());
    EXPECT_EQ(JsonEscapeText("\b\f\r\t/\x7f"), "\\b\\f\\r\\t/\x7f");
}

TEST(PairingPayload, PortFollowsTheServerOverride) {
    PortEnv env;
    env.Set("7001");
    EXPECT_EQ(PairingPort(), 7001);
    EXPECT_NE(BuildPairingPayload("x", "10.0.0.1").find("\"port\":7001, "), std::string::npos);
    for (const char* bad : {"", "0", "65536", "80a", "-5", "99999999999999999999"}) {
        env.Set(bad);
        EXPECT_EQ(PairingPort(), 6639) << bad;
    }
}

TEST(PairingPayload, PasswordComesFromThePublishedLibrary) {
    class PasswordLibrary : public FakeDBCenter {
    public:
        PasswordLibrary() : FakeDBCenter({}) {}
        std::string GetConfig(const std::string& key) override {
            return key == "auth_passwd" ? "pa\"ss" : "other";
        }
    };
    PortEnv env;
    EXPECT_EQ(BuildPairingPayload(), BuildPairingPayload("", GetLocalIP()));
    PasswordLibrary library;
    PublishAccessPoints(nullptr, &library, nullptr, nullptr);
    std::string payload = BuildPairingPayload();
    ClearAccessPoints();
    EXPECT_EQ(payload, BuildPairingPayload("pa\"ss", GetLocalIP()));
    EXPECT_NE(payload.find("\"passwd\":\"pa\\\"ss\""), std::string::npos) << payload;
}
