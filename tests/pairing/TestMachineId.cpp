#include "pairing/MachineId.h"
#include "tests/support/TestDirs.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

fs::path MakeFile(const TempDir& dir, const std::string& name, const std::string& content,
                  mode_t mode) {
    fs::path file = dir / name;
    EXPECT_TRUE(WriteTestFile(file, content));
    EXPECT_EQ(::chmod(file.c_str(), mode), 0);
    return file;
}

} // namespace

TEST(FirmwareUuid, ProductUuidReadableByEveryoneIsUsedAsFourGroups) {
    TempDir dir("vellumo-uuid");
    fs::path product =
        MakeFile(dir, "product_uuid", "4c4c4544-0042-3510-8052-b4c04f4e4d32\n", 0444);
    fs::path machine = MakeFile(dir, "machine-id", "3d1219c7c4c5404aaa1f6d2a48adfda4\n", 0444);
    EXPECT_EQ(ReadFirmwareUuidFrom(product, {machine}), "4C4C4544-00423510-8052B4C0-4F4E4D32");
}

TEST(FirmwareUuid, RootOnlyOrMalformedSourcesAreSkipped) {
    TempDir dir("vellumo-uuid");
    // Readable by this process (perhaps root) but not by other users: another user would get a
    // different identity, so it must not count.
    fs::path product =
        MakeFile(dir, "product_uuid", "4c4c4544-0042-3510-8052-b4c04f4e4d32\n", 0400);
    fs::path shortId = MakeFile(dir, "short", "3d1219c7c4c5404aaa1f6d2a48adfda\n", 0444);
    fs::path notHex = MakeFile(dir, "nothex", "3d1219c7c4c5404aaa1f6d2a48adfdzz\n", 0444);
    fs::path longId = MakeFile(dir, "long", "3d1219c7c4c5404aaa1f6d2a48adfda4aa\n", 0444);
    fs::path good = MakeFile(dir, "machine-id", "3d1219c7c4c5404aaa1f6d2a48adfda4\n", 0444);
    fs::create_directory(dir / "folder");

    EXPECT_EQ(ReadFirmwareUuidFrom(
                  product, {shortId, notHex, longId, dir / "folder", dir / "missing", good}),
              "3D1219C7-C4C5404A-AA1F6D2A-48ADFDA4");
    EXPECT_EQ(ReadFirmwareUuidFrom(product, {shortId, notHex}), "");
    EXPECT_EQ(ReadFirmwareUuidFrom(dir / "missing", {}), "");
}

TEST(MachineIdentity, StableUpperHexAndTheSameFromEveryThread) {
    std::string id = GetMachineId();
    EXPECT_TRUE(std::regex_match(id, std::regex("[0-9A-F]{32}"))) << id;
    EXPECT_EQ(GetMachineId(), id);
    // Nothing random or time-dependent goes in: a fresh computation agrees.
    EXPECT_EQ(ComputeMachineId(), id);

    std::vector<std::string> seen(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = GetMachineId(); });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()), std::set<std::string>{id});
}

TEST(MachineIdentity, PartsHaveTheirFixedForms) {
    EXPECT_TRUE(std::regex_match(GetProcessorText(), std::regex("[0-9A-F]{16}-[0-9A-F]{16}")))
        << GetProcessorText();
    EXPECT_TRUE(std::regex_match(GetVolumeText(), std::regex("[0-9A-F]{8}"))) << GetVolumeText();
    std::string uuid = ReadFirmwareUuid();
    EXPECT_TRUE(uuid.empty() || std::regex_match(uuid, std::regex("([0-9A-F]{8}-){3}[0-9A-F]{8}")))
        << uuid;
}

TEST(MachineIdentity, SameForAnotherUser) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run a part of the test as another user";
    }
    std::string id = ComputeMachineId();
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(fds[0]);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(2);
        }
        std::string other = ComputeMachineId();
        ssize_t written = ::write(fds[1], other.data(), other.size());
        ::_exit(written == static_cast<ssize_t>(other.size()) ? 0 : 3);
    }
    ::close(fds[1]);
    char buffer[64] = {};
    ssize_t n = ::read(fds[0], buffer, sizeof(buffer));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0), id);
}
