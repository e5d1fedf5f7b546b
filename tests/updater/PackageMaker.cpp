#include "tests/updater/PackageMaker.h"

#include <minizip/zip.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

std::string Sha256Hex(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr);
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool AddEntry(zipFile zip, const ZipEntry& entry) {
    zip_fileinfo info{};
    if (entry.unixMode != 0) {
        info.external_fa = static_cast<uLong>(entry.unixMode) << 16;
    }
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()),
                      static_cast<uInt>(entry.data.size()));
    bool raw = entry.wrongCrc || (entry.method != 0 && entry.method != 8);
    const char* password = entry.password.empty() ? nullptr : entry.password.c_str();
    // "Made by" Unix (3) so that the mode bits in the upper half of the attributes count.
    int opened =
        zipOpenNewFileInZip4_64(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                entry.method, raw || entry.method == 0 ? 0 : Z_DEFAULT_COMPRESSION,
                                raw ? 1 : 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
                                password, crc, entry.unixMode ? (3 << 8) | 20 : 20, 0, 1);
    if (opened != ZIP_OK ||
        zipWriteInFileInZip(zip, entry.data.data(), static_cast<unsigned>(entry.data.size())) !=
            ZIP_OK) {
        return false;
    }
    if (raw) {
        return zipCloseFileInZipRaw64(zip, entry.data.size(), entry.wrongCrc ? crc ^ 1 : crc) ==
               ZIP_OK;
    }
    return zipCloseFileInZip(zip) == ZIP_OK;
}

} // namespace

bool WriteZip(const fs::path& file, const std::vector<ZipEntry>& entries) {
    zipFile zip = zipOpen64(file.c_str(), APPEND_STATUS_CREATE);
    if (!zip) {
        return false;
    }
    bool fine = true;
    for (const ZipEntry& entry : entries) {
        fine = fine && AddEntry(zip, entry);
    }
    return zipClose(zip, nullptr) == ZIP_OK && fine;
}

fs::path TestKeyFolder() {
    const char* source = std::getenv("VELLUMO_SOURCE_DIR");
    return fs::path(source ? source : VELLUMO_SOURCE_DIR) / "tests" / "updater" / "keys";
}
fs::path TestPrivateKey() {
    return TestKeyFolder() / "test-private.pem";
}
fs::path OtherPrivateKey() {
    return TestKeyFolder() / "other-private.pem";
}
std::string TestPublicKeyPem() {
    return ReadAll(TestKeyFolder() / "test-public.pem");
}

bool SignFile(const fs::path& file, const fs::path& privateKey) {
    std::string command = "openssl dgst -sha256 -sign '" + privateKey.string() + "' -out '" +
                          file.string() + ".sig' '" + file.string() + "'";
    return std::system(command.c_str()) == 0;
}

std::string TreeDigest(const fs::path& folder) {
    std::vector<std::string> lines;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        struct stat st {};
        ::lstat(it->path().c_str(), &st);
        std::ostringstream line;
        line << fs::relative(it->path(), folder).string() << " " << std::oct << st.st_mode
             << std::dec << " ";
        if (S_ISREG(st.st_mode)) {
            line << st.st_size << " " << Sha256Hex(ReadAll(it->path()));
        } else if (S_ISLNK(st.st_mode)) {
            line << "-> " << fs::read_symlink(it->path(), ec).string();
        }
        lines.push_back(line.str());
    }
    std::sort(lines.begin(), lines.end());
    std::string all;
    for (const std::string& line : lines) {
        all += line + "\n";
    }
    return all;
}
