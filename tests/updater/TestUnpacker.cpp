// Unpacking update packages, the sound ones and the hostile ones.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/TestDirs.h"
#include "tests/updater/PackageMaker.h"
#include "updater/CHPackageUnpacker.h"

namespace {

using Result = CHPackageUnpacker::Result;

class Unpacker : public ::testing::Test {
protected:
    Result Unpack(const std::vector<ZipEntry>& entries, UnpackLimits limits = {}) {
        fs::remove_all(m_dir / "out");
        fs::create_directories(m_dir / "out");
        EXPECT_TRUE(WriteZip(m_dir / "p.zip", entries));
        CHPackageUnpacker unpacker(limits);
        Result result = unpacker.Unpack(m_dir / "p.zip", m_dir / "out");
        m_error = unpacker.Error();
        return result;
    }
    mode_t ModeOf(const fs::path& relative) {
        struct stat st {};
        ::lstat((m_dir / "out" / relative).c_str(), &st);
        return st.st_mode & 07777;
    }

    TempDir m_dir{"updater-unpack"};
    std::string m_error;
};

TEST_F(Unpacker, SoundPackageIsWrittenWithSaneModes) {
    ASSERT_EQ(Unpack({{"upgrade/", "", 040755},
                      {"upgrade/upgrade.cfg", "{}"},
                      {" upgrade/vellumo ", "ELF", 0104777}, // setuid, world-writable
                      {"upgrade/Pages/index.html", "<html>", 0100666},
                      {"upgrade\\Pages\\site.css", "body{}", 0},
                      {"big.bin", std::string(3 << 20, 'x'), 0100600, "", false, 0}}),
              Result::Ok)
        << m_error;
    EXPECT_EQ(ReadTestFile(m_dir / "out/upgrade/vellumo"), "ELF");
    EXPECT_EQ(ModeOf("upgrade/vellumo"), 0755);
    EXPECT_EQ(ModeOf("upgrade/Pages/index.html"), 0644);
    EXPECT_EQ(ReadTestFile(m_dir / "out/upgrade/Pages/site.css"), "body{}");
    EXPECT_EQ(fs::file_size(m_dir / "out/big.bin"), 3u << 20);
}

TEST_F(Unpacker, EntriesThatWouldLandOutsideAreRefusedBeforeWriting) {
    for (const char* name : {"../evil", "a/../../evil", "/tmp/evil", "C:/evil", "..\\evil",
                             "\xff.txt", ".fernlift-backup/journal"}) {
        EXPECT_EQ(Unpack({{"ok.txt", "fine"}, {name, "pwned"}}), Result::BadEntry) << name;
        EXPECT_FALSE(fs::exists(m_dir / "evil")) << name;
        EXPECT_FALSE(fs::exists("/tmp/evil")) << name;
    }
    std::string huge(1100, 'n');
    EXPECT_EQ(Unpack({{huge, "x"}}), Result::BadEntry);
    EXPECT_EQ(CountFiles(m_dir / "out"), 0u);
}

TEST_F(Unpacker, LinksAndSpecialFilesAreRefused) {
    EXPECT_EQ(Unpack({{"link", "/etc/passwd", 0120777}}), Result::BadEntry);
    EXPECT_FALSE(fs::is_symlink(m_dir / "out/link"));
    EXPECT_EQ(Unpack({{"fifo", "", 010644}}), Result::BadEntry);
    // A link entry followed by a file "through" it: the first already stops the unpacking.
    EXPECT_EQ(Unpack({{"dir", "/tmp", 0120777}, {"dir/evil", "pwned"}}), Result::BadEntry);
    EXPECT_FALSE(fs::exists("/tmp/evil"));
}

TEST_F(Unpacker, CorruptEncryptedAndUnsupportedEntriesFail) {
    EXPECT_EQ(Unpack({{"a.txt", "data", 0100644, "", true, 0}}), Result::BadEntry) << "CRC";
    EXPECT_EQ(Unpack({{"a.txt", "secret", 0100644, "password"}}), Result::BadEntry) << "encrypted";
    // An entry compressed with a method other than store or deflate (here: 99, which the
    // writer will not make, so its method fields are patched afterwards).
    ASSERT_TRUE(WriteZip(m_dir / "method.zip", {{"a.txt", "data", 0100644, "", false, 0}}));
    std::string bytes = ReadTestFile(m_dir / "method.zip");
    bytes[8] = 99;
    bytes[bytes.find("PK\x01\x02") + 10] = 99;
    WriteTestFile(m_dir / "method.zip", bytes);
    fs::remove_all(m_dir / "out");
    fs::create_directories(m_dir / "out");
    CHPackageUnpacker unpacker;
    EXPECT_EQ(unpacker.Unpack(m_dir / "method.zip", m_dir / "out"), Result::BadEntry);
    EXPECT_FALSE(fs::exists(m_dir / "out/a.txt"));
    EXPECT_EQ(Unpack({{"a.txt", "one"}, {"a.txt", "two"}}), Result::BadEntry) << "duplicate";

    WriteTestFile(m_dir / "junk.zip", "PK\x03\x04 not really a zip");
    EXPECT_EQ(unpacker.Unpack(m_dir / "junk.zip", m_dir / "out"), Result::NotAZip);
    EXPECT_EQ(unpacker.Unpack(m_dir / "missing.zip", m_dir / "out"), Result::NotAZip);
}

TEST_F(Unpacker, LimitsCountWhatIsWritten) {
    UnpackLimits limits;
    limits.maxEntries = 5;
    limits.maxEntryBytes = 1 << 20;
    limits.maxTotalBytes = 3 << 20;
    std::vector<ZipEntry> five(5, ZipEntry{});
    for (size_t i = 0; i < five.size(); ++i) {
        five[i].name = "f" + std::to_string(i);
    }
    EXPECT_EQ(Unpack(five, limits), Result::Ok) << m_error;
    five.push_back({"f5", ""});
    EXPECT_EQ(Unpack(five, limits), Result::BadEntry) << "flood";

    // A bomb: a tiny deflated entry that inflates past the per-entry limit.
    EXPECT_EQ(Unpack({{"zeros", std::string((1 << 20) + 1, '\0')}}, limits), Result::BadEntry);
    EXPECT_EQ(Unpack({{"zeros", std::string(1 << 20, '\0')}}, limits), Result::Ok) << m_error;
    std::vector<ZipEntry> many;
    for (int i = 0; i < 4; ++i) {
        many.push_back({"z" + std::to_string(i), std::string(1 << 20, '\0')});
    }
    EXPECT_EQ(Unpack(many, limits), Result::BadEntry) << "total";
}

TEST_F(Unpacker, DefaultLimitsRefuseAFloodBeforeWritingIt) {
    std::vector<ZipEntry> flood(20001, ZipEntry{});
    for (size_t i = 0; i < flood.size(); ++i) {
        flood[i].name = "f" + std::to_string(i);
        flood[i].method = 0;
    }
    EXPECT_EQ(Unpack(flood), Result::BadEntry);
    EXPECT_EQ(CountFiles(m_dir / "out"), 0u);
}

} // namespace
