#pragma once
// Checks the detached signature of an update package: ECDSA P-256 over the SHA-256 of the
// file, DER-encoded, as `openssl dgst -sha256 -sign key.pem -out package.zip.sig package.zip`
// writes it. The package is read in blocks, never whole.

#include <filesystem>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

// The largest signature file accepted (a DER ECDSA P-256 signature is at most 72 bytes).
inline constexpr size_t kMaxSignatureBytes = 1024;

// The public key built into this program (PEM text), empty when the build has none: then
// every package is refused.
std::string_view BuiltInPublicKey();

// True only when publicKeyPem holds a P-256 public key and signature is its valid signature
// of the file's bytes.
bool VerifyPackageSignature(const fs::path& package, std::string_view signature,
                            std::string_view publicKeyPem);
