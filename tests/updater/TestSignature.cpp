// Package signatures made by the openssl command line, checked against the built-in key.
#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "tests/support/TestDirs.h"
#include "tests/updater/PackageMaker.h"
#include "updater/PackageSignature.h"

namespace {

class Signature : public ::testing::Test {
protected:
    Signature() {
        WriteTestFile(m_package, std::string(300000, 'p') + "end");
        EXPECT_TRUE(SignFile(m_package, TestPrivateKey()));
        ReadWholeFile(m_package.string() + ".sig", m_signature);
    }
    TempDir m_dir{"updater-signature"};
    fs::path m_package = m_dir / "package.zip";
    std::string m_signature;
};

TEST_F(Signature, OnlyTheTrustedKeysSignatureOfTheSameBytesPasses) {
    ASSERT_FALSE(m_signature.empty());
    EXPECT_EQ(BuiltInPublicKey(), TestPublicKeyPem()); // this build trusts the test key
    EXPECT_TRUE(VerifyPackageSignature(m_package, m_signature, BuiltInPublicKey()));

    ASSERT_TRUE(SignFile(m_package, OtherPrivateKey()));
    std::string other;
    ReadWholeFile(m_package.string() + ".sig", other);
    EXPECT_FALSE(VerifyPackageSignature(m_package, other, BuiltInPublicKey()));

    std::string flipped = m_signature;
    flipped[flipped.size() / 2] ^= 1;
    EXPECT_FALSE(VerifyPackageSignature(m_package, flipped, BuiltInPublicKey()));
    EXPECT_FALSE(VerifyPackageSignature(m_package, m_signature.substr(1), BuiltInPublicKey()));
    EXPECT_FALSE(VerifyPackageSignature(m_package, "", BuiltInPublicKey()));
    EXPECT_FALSE(VerifyPackageSignature(m_package, m_signature + std::string(2000, '\0'),
                                        BuiltInPublicKey()));
}

TEST_F(Signature, ChangedOrMissingPackageFails) {
    std::string bytes;
    ReadWholeFile(m_package, bytes);
    bytes[123456] ^= 0x20;
    WriteTestFile(m_package, bytes);
    EXPECT_FALSE(VerifyPackageSignature(m_package, m_signature, BuiltInPublicKey()));
    EXPECT_FALSE(VerifyPackageSignature(m_dir / "none.zip", m_signature, BuiltInPublicKey()));
}

TEST_F(Signature, WithoutAUsableKeyEveryPackageIsRefused) {
    EXPECT_FALSE(VerifyPackageSignature(m_package, m_signature, ""));
    EXPECT_FALSE(VerifyPackageSignature(m_package, m_signature, "-----BEGIN PUBLIC KEY-----\n"));
    // A key of another curve is not accepted even with a matching signature.
    std::string command = "openssl ecparam -name secp384r1 -genkey -noout -out '" +
                          (m_dir / "p384.pem").string() + "' && openssl ec -in '" +
                          (m_dir / "p384.pem").string() + "' -pubout -out '" +
                          (m_dir / "p384.pub").string() + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    ASSERT_TRUE(SignFile(m_package, m_dir / "p384.pem"));
    std::string signature;
    std::string key;
    ReadWholeFile(m_package.string() + ".sig", signature);
    ReadWholeFile(m_dir / "p384.pub", key);
    EXPECT_FALSE(VerifyPackageSignature(m_package, signature, key));
}

} // namespace
