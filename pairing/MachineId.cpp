#include "pairing/MachineId.h"

#include "media/CHMd5.h"

#include <sys/stat.h>
#include <sys/statfs.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <system_error>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

bool ReadableByEveryone(const fs::path& file) {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IROTH) != 0;
}

// 16 bytes from exactly 32 hex digits; dashes and white space are ignored.
bool ParseUuidBytes(const std::string& text, uint8_t bytes[16]) {
    int digits = 0;
    for (char c : text) {
        if (c == '-' || std::isspace(static_cast<unsigned char>(c))) {
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c)) || digits >= 32) {
            return false;
        }
        int value = std::isdigit(static_cast<unsigned char>(c))
                        ? c - '0'
                        : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        if (digits % 2 == 0) {
            bytes[digits / 2] = static_cast<uint8_t>(value << 4);
        } else {
            bytes[digits / 2] |= static_cast<uint8_t>(value);
        }
        ++digits;
    }
    return digits == 32;
}

std::string FormatUuid(const uint8_t b[16]) {
    char text[40];
    std::snprintf(text, sizeof(text),
                  "%02X%02X%02X%02X-%02X%02X%02X%02X-%02X%02X%02X%02X-%02X%02X%02X%02X", b[0], b[1],
                  b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                  b[15]);
    return text;
}

std::string UuidFromFile(const fs::path& file) {
    if (!ReadableByEveryone(file)) {
        return {};
    }
    std::ifstream in(file, std::ios::binary);
    std::string content;
    char buffer[128];
    // These files are tiny; anything long is not what we are looking for.
    in.read(buffer, sizeof(buffer));
    content.assign(buffer, static_cast<size_t>(in.gcount()));
    uint8_t bytes[16];
    if (content.size() >= sizeof(buffer) || !ParseUuidBytes(content, bytes)) {
        return {};
    }
    return FormatUuid(bytes);
}

// The first 8 hex digits of the root file system's UUID, found through the by-uuid links of the
// block device that holds "/".
std::string RootUuidSerial() {
    struct stat root {};
    if (::stat("/", &root) != 0) {
        return {};
    }
    std::error_code ec;
    fs::directory_iterator it("/dev/disk/by-uuid", ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        struct stat dev {};
        if (::stat(it->path().c_str(), &dev) != 0 || !S_ISBLK(dev.st_mode) ||
            dev.st_rdev != root.st_dev) {
            continue;
        }
        std::string hex;
        for (char c : it->path().filename().string()) {
            if (std::isxdigit(static_cast<unsigned char>(c))) {
                hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            } else if (c != '-') {
                hex.clear();
                break;
            }
        }
        if (hex.size() >= 8) {
            return hex.substr(0, 8);
        }
    }
    return {};
}

} // namespace

std::string ReadFirmwareUuidFrom(const fs::path& productUuid,
                                 const std::vector<fs::path>& machineIdFiles) {
    std::string text = UuidFromFile(productUuid);
    for (size_t i = 0; text.empty() && i < machineIdFiles.size(); ++i) {
        text = UuidFromFile(machineIdFiles[i]);
    }
    return text;
}

std::string ReadFirmwareUuid() {
    // product_uuid is usually readable by root only; then the machine-id stands in, so that
    // every user gets the same identity.
    return ReadFirmwareUuidFrom("/sys/class/dmi/id/product_uuid",
                                {"/etc/machine-id", "/var/lib/dbus/machine-id"});
}

std::string GetProcessorText() {
    unsigned int edx1 = 0, ecx1 = 0, edx3 = 0, ecx3 = 0;
#if defined(__x86_64__) || defined(__i386__)
    unsigned int eax = 0, ebx = 0;
    __cpuid(1, eax, ebx, ecx1, edx1);
    __cpuid(3, eax, ebx, ecx3, edx3);
#endif
    char text[40];
    std::snprintf(text, sizeof(text), "%08X%08X-%08X%08X", edx1, ecx1, edx3, ecx3);
    return text;
}

std::string GetVolumeText() {
    std::string serial = RootUuidSerial();
    if (!serial.empty()) {
        return serial;
    }
    uint32_t value = 0;
    struct statfs fsInfo {};
    if (::statfs("/", &fsInfo) == 0) {
        value = static_cast<uint32_t>(fsInfo.f_fsid.__val[0]) ^
                static_cast<uint32_t>(fsInfo.f_fsid.__val[1]);
    }
    char text[16];
    std::snprintf(text, sizeof(text), "%08X", value);
    return text;
}

std::string ComputeMachineId() {
    std::string source = ReadFirmwareUuid() + GetProcessorText() + GetVolumeText();
    return Md5Text(source.data(), source.size());
}

std::string GetMachineId() {
    static std::once_flag once;
    static std::string id;
    std::call_once(once, [] { id = ComputeMachineId(); });
    return id;
}
