#include "pairing/PairingPayload.h"

#include "library/IDBCenter.h"
#include "media/Base64.h"
#include "media/TextCodec.h"
#include "pairing/LocalAddress.h"
#include "pairing/MachineId.h"
#include "platform/ServicePort.h"
#include "platform/Version.h"
#include "shell/AccessPoints.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int PairingPort() {
    return ServicePort();
}

std::string GetHostNameText() {
    char name[512] = "PC";
    if (::gethostname(name, sizeof(name) - 1) != 0) {
        std::snprintf(name, sizeof(name), "PC");
    }
    name[sizeof(name) - 1] = '\0';
    // The system's 8-bit text is UTF-8 here; repair stray bytes so the name survives Base64 and
    // the phone's decoding.
    return MakeValidUtf8(name);
}

std::string JsonEscapeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof(escaped), "\\u%04X", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out;
}

std::string BuildPairingPayload(const std::string& password, const std::string& ip) {
    std::string payload = "{\"ip\":\"" + JsonEscapeText(ip) +
                          "\", \"port\":" + std::to_string(PairingPort()) + ", \"passwd\":\"" +
                          JsonEscapeText(password) + "\", \"name\":\"" +
                          JsonEscapeText(Base64Encode(GetHostNameText())) + "\", \"id\":\"" +
                          JsonEscapeText(GetMachineId()) + "\", \"host\":\"pc\", \"version\":\"" +
                          kVellumoVersion + "\"}";
    return payload;
}

std::string BuildPairingPayload() {
    std::string password;
    if (IDBCenter* db = GetDBCenter()) {
        password = db->GetConfig("auth_passwd");
    }
    return BuildPairingPayload(password, GetLocalIP());
}
