#pragma once
// Builds zip archives for the updater's tests with minizip's writer, including the malformed
// and hostile ones a real packer would refuse to make, and signs them with the test keys.

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

struct ZipEntry {
    ZipEntry(std::string entryName = {}, std::string bytes = {}, uint32_t mode = 0100644,
             std::string secret = {}, bool badCrc = false, int compression = 8)
        : name(std::move(entryName)), data(std::move(bytes)), unixMode(mode),
          password(std::move(secret)), wrongCrc(badCrc), method(compression) {}
    std::string name;
    std::string data;
    uint32_t unixMode = 0100644; // 0: no Unix attributes (as a Windows packer writes)
    std::string password;        // non-empty: traditional zip encryption
    bool wrongCrc = false;       // stored with a CRC that does not match the data
    int method = 8;              // 0 stored, 8 deflated, other: raw bytes under that method
};

// Writes the entries into a new zip file. False on any failure.
bool WriteZip(const fs::path& file, const std::vector<ZipEntry>& entries);

// The committed test keys.
fs::path TestKeyFolder();
fs::path TestPrivateKey();  // the key this build trusts
fs::path OtherPrivateKey(); // a key it does not trust
std::string TestPublicKeyPem();

// Writes file + ".sig" with `openssl dgst -sha256 -sign`. False when openssl failed.
bool SignFile(const fs::path& file, const fs::path& privateKey);

// A digest of a folder tree: every path, type, mode, size, content and link target. Two trees
// with the same digest are byte-identical for the purposes of the tests.
std::string TreeDigest(const fs::path& folder);
