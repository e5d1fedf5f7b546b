#pragma once
// The PC side as the phone meets it: a real library centre on a temporary storage root, its
// real web server on an ephemeral port with the phone endpoints, a stand-in controller that
// queues received files in the library like the real one, and a notification hub whose records
// the tests read back. The temporary folder ($TMPDIR) is private to each test.

#include "PhoneClient.h"
#include "library/CHDBCenter.h"
#include "net/BackupProgress.h"
#include "shell/CNotifyHub.h"
#include "shell/HistoryRecord.h"
#include "shell/IObserver.h"
#include "tests/support/NullMainWnd.h"
#include "tests/support/TestDirs.h"
#include "tests/support/TestImages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

inline constexpr char kTestMachineId[] = "0123456789ABCDEF0123456789ABCDEF";
inline constexpr char kTestPassword[] = "Pa55word";

class FakeMainWnd : public NullMainWnd {
public:
    std::string GetLocalIP() override { return "127.0.0.1"; }
    fs::path GetRootPath() override { return root; }
    int ImportFileWithProgress(const fs::path& file, const std::string& deviceKey,
                               const std::string& extra) override;
    void ImportUpload(const fs::path& file, const std::string& deviceKey, const std::string& token,
                      std::function<void(int64_t)> done) override;

    struct HandOver {
        fs::path file;
        std::string deviceKey;
        std::string token;
    };
    std::vector<HandOver> HandOvers();

    fs::path root;

private:
    std::mutex m_lock;
    std::vector<HandOver> m_handOvers;
};

class RecordingHub : public IObserver {
public:
    void OnNotify(int code, const std::shared_ptr<const void>& data) override;
    std::vector<BackupProgress> Progress();
    std::vector<HistoryRecord> History();

private:
    std::mutex m_lock;
    std::vector<BackupProgress> m_progress;
    std::vector<HistoryRecord> m_history;
};

class PhoneTest : public ::testing::Test {
public:
    // A photo token as the app builds it: Base64 of four "|"-separated fields.
    static std::string Token(const std::string& id, int64_t seconds);
    // A small real JPEG; each seed gives other pixels.
    static std::string Photo(uint32_t seed, const std::string& date = "");

protected:
    void SetUp() override;
    void TearDown() override;

    int Port() const { return m_port; }
    PhoneClient Phone(const std::string& from = "127.0.0.2") const {
        return PhoneClient(m_port, from);
    }
    CHDBCenter& Db() { return *m_db; }
    fs::path Root() const { return m_root; }
    fs::path Repos() const { return m_root / "Repos"; }
    fs::path TempRoot() const { return m_root / ".incoming"; }
    size_t TempFolders() const; // entries of TempRoot (staged uploads and their records)

    // Stores the pairing password and pairs the device from 127.0.0.2.
    void Pair(const std::string& key, const std::string& modal);
    // POSTs a photo to "/import" and returns the answer body.
    std::string Upload(const std::string& key, const std::string& query, std::string_view body,
                       const std::string& from = "127.0.0.2");
    // Waits until the library has stored everything queued.
    void WaitImports();

    // Restarts the library on the same root (e.g. after changing its stored trees).
    void ReopenLibrary();

    TempDir m_dir{"vellumo-endp"};
    fs::path m_root;
    fs::path m_tmp;
    std::string m_oldTmp;
    bool m_hadTmp = false;
    CNotifyHub m_hub;
    RecordingHub m_recorder;
    FakeMainWnd m_mainWnd;
    std::unique_ptr<CHDBCenter> m_db;
    int m_port = 0;
};

// The styled JSON text of {"status": value}.
std::string StatusDocument(const std::string& value);
