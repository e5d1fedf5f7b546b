#include "PhoneFixture.h"

#include "media/Base64.h"
#include "net/CHWebServer.h"
#include "net/PhoneEndpoints.h"
#include "shell/AccessPoints.h"

#include <cstdlib>
#include <ctime>

int FakeMainWnd::ImportFileWithProgress(const fs::path& file, const std::string& deviceKey,
                                        const std::string& extra) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_handOvers.push_back({file, deviceKey, extra});
    }
    // As the controller does: queue the file in the library with a progress callback.
    IDBCenter* db = GetDBCenter();
    if (db == nullptr) {
        return 0;
    }
    db->QueueImport(
        file, deviceKey, [](int, int, int, const fs::path&, const std::string&, intptr_t) {},
        reinterpret_cast<intptr_t>(this), extra);
    return 1;
}

void FakeMainWnd::ImportUpload(const fs::path& file, const std::string& deviceKey,
                               const std::string& token, std::function<void(int64_t)> done) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_handOvers.push_back({file, deviceKey, token});
    }
    IDBCenter* db = GetDBCenter();
    if (db == nullptr) {
        done(0);
        return;
    }
    db->QueueImportDone(
        file, deviceKey, [](int, int, int, const fs::path&, const std::string&, intptr_t) {},
        reinterpret_cast<intptr_t>(this), token, std::move(done));
}

std::vector<FakeMainWnd::HandOver> FakeMainWnd::HandOvers() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_handOvers;
}

void RecordingHub::OnNotify(int code, const std::shared_ptr<const void>& data) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (code == NOTIFY_BACKUP_PROGRESS && data) {
        m_progress.push_back(*static_cast<const BackupProgress*>(data.get()));
    } else if (code == NOTIFY_BACKUP_DONE && data) {
        m_history.push_back(*static_cast<const HistoryRecord*>(data.get()));
    }
}

std::vector<BackupProgress> RecordingHub::Progress() {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<BackupProgress> out;
    out.swap(m_progress);
    return out;
}

std::vector<HistoryRecord> RecordingHub::History() {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<HistoryRecord> out;
    out.swap(m_history);
    return out;
}

void PhoneTest::SetUp() {
    setenv("TZ", "UTC", 1);
    tzset();
    setenv("XDG_DATA_HOME", (m_dir / "xdg").c_str(), 1);
    if (const char* old = std::getenv("TMPDIR")) {
        m_oldTmp = old;
        m_hadTmp = true;
    }
    m_tmp = m_dir / "tmp";
    fs::create_directories(m_tmp);
    setenv("TMPDIR", m_tmp.c_str(), 1);

    m_root = m_dir / "root";
    fs::create_directories(m_root / "Repos");
    fs::create_directories(m_root / "Thumb");
    m_hub.Subscribe(&m_recorder, NOTIFY_BACKUP_PROGRESS);
    m_hub.Subscribe(&m_recorder, NOTIFY_BACKUP_DONE);

    m_db = std::make_unique<CHDBCenter>();
    m_db->SetServicePort(0);
    m_db->SetMachineIdSource([] { return std::string(kTestMachineId); });
    m_mainWnd.root = m_root;
    PublishAccessPoints(&m_mainWnd, m_db.get(), nullptr, &m_hub);
    CHWebServer* server = m_db->GetWebServer();
    ASSERT_NE(server, nullptr);
    RegisterPhoneEndpoints(*server);
    ASSERT_EQ(m_db->OpenLibrary(m_root), 1);
    ASSERT_TRUE(server->WaitListening(10000));
    m_port = server->BoundPort();
}

void PhoneTest::TearDown() {
    if (m_db) {
        m_db->WaitIdle(30000);
    }
    m_db.reset();
    ClearAccessPoints();
    if (m_hadTmp) {
        setenv("TMPDIR", m_oldTmp.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
}

size_t PhoneTest::TempFolders() const {
    size_t count = 0;
    std::error_code ec;
    for (fs::directory_iterator it(TempRoot(), ec), end; !ec && it != end; it.increment(ec)) {
        ++count;
    }
    return count;
}

void PhoneTest::Pair(const std::string& key, const std::string& modal) {
    m_db->SetConfig("auth_passwd", kTestPassword);
    PhoneAnswer answer =
        Phone().Get("/auth?key=" + key + "&passwd=" + kTestPassword + "&type=1&modal=" + modal);
    ASSERT_EQ(answer.Status(), 200) << answer.raw;
}

std::string PhoneTest::Upload(const std::string& key, const std::string& query,
                              std::string_view body, const std::string& from) {
    return Phone(from).Post("/import?key=" + key + (query.empty() ? "" : "&" + query), body).body;
}

void PhoneTest::WaitImports() {
    ASSERT_TRUE(m_db->WaitIdle(30000));
}

std::string PhoneTest::Token(const std::string& id, int64_t seconds) {
    return Base64Encode("phone|" + id + "|" + std::to_string(seconds) + "|x");
}

std::string PhoneTest::Photo(uint32_t seed, const std::string& date) {
    TestJpegOptions options;
    options.seed = seed;
    options.withExif = !date.empty();
    options.exif.dateTime = date;
    return MakeTestJpeg(options);
}

void PhoneTest::ReopenLibrary() {
    m_db->WaitIdle(30000);
    m_db->CloseLibrary();
    ASSERT_EQ(m_db->OpenLibrary(m_root), 1);
}

std::string StatusDocument(const std::string& value) {
    return "{\n\t\"status\" : \"" + value + "\"\n}\n";
}
