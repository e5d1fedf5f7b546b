#include "updater/PackageSignature.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "updater/UniqueFd.h"

#if __has_include("fernlift_public_key.h")
#include "fernlift_public_key.h"
#else
static constexpr char kFernliftPublicKey[] = "";
#endif

namespace {

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::unique_ptr<EVP_PKEY, KeyFree> LoadP256Key(std::string_view pem) {
    if (pem.empty()) {
        return nullptr;
    }
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) {
        return nullptr;
    }
    std::unique_ptr<EVP_PKEY, KeyFree> key(
        PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    if (!key || !EVP_PKEY_is_a(key.get(), "EC") || EVP_PKEY_get_bits(key.get()) != 256) {
        return nullptr;
    }
    char group[64] = {};
    size_t length = 0;
    if (!EVP_PKEY_get_utf8_string_param(key.get(), "group", group, sizeof(group), &length) ||
        std::string_view(group, length) != "prime256v1") {
        return nullptr;
    }
    return key;
}

} // namespace

std::string_view BuiltInPublicKey() {
    return kFernliftPublicKey;
}

bool VerifyPackageSignature(const fs::path& package, std::string_view signature,
                            std::string_view publicKeyPem) {
    if (signature.empty() || signature.size() > kMaxSignatureBytes) {
        return false;
    }
    std::unique_ptr<EVP_PKEY, KeyFree> key = LoadP256Key(publicKeyPem);
    std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    if (!key || !context ||
        EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
        return false;
    }
    UniqueFd file(::open(package.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.Valid()) {
        return false;
    }
    std::vector<unsigned char> buffer(1 << 20);
    for (;;) {
        ssize_t got = ::read(file.Get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        if (EVP_DigestVerifyUpdate(context.get(), buffer.data(), static_cast<size_t>(got)) != 1) {
            return false;
        }
    }
    return EVP_DigestVerifyFinal(context.get(),
                                 reinterpret_cast<const unsigned char*>(signature.data()),
                                 signature.size()) == 1;
}
