#include "shell/CVellumoCore.h"

#include "library/CHRepositoryWatcher.h"
#include "media/TextCodec.h"
#include "net/CHWebServer.h"
#include "net/PhoneEndpoints.h"
#include "pairing/LocalAddress.h"
#include "pairing/MachineId.h"
#include "platform/Dialogs.h"
#include "platform/Folders.h"
#include "platform/Random.h"
#include "shell/AccessPoints.h"
#include "shell/AutoStart.h"
#include "shell/CRootMover.h"
#include "shell/StoragePaths.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <system_error>

namespace {

constexpr const char* kPasswordKey = "auth_passwd";
constexpr const char* kUsageKey = "count_data";
constexpr const char* kLocalDevice = "localhost";
// How long a root move waits for imports already handed to the library.
constexpr int kImportDrainMs = 60000;

} // namespace

CVellumoCore::CVellumoCore(CoreOptions options)
    : m_options(std::move(options)),
      m_localImport([this](const fs::path& file, const std::string& label) {
          QueueToLibrary(file, label, std::string());
      }),
      m_db(std::make_unique<CHDBCenter>()) {
    m_pointerFile = m_options.pointerFile.empty() ? SettingsPointerPath() : m_options.pointerFile;
    m_watcher = std::make_unique<CHRepositoryWatcher>(MakeRepositorySink(*m_db));
}

CVellumoCore::~CVellumoCore() {
    Stop();
}

bool CVellumoCore::Start() {
    if (m_started) {
        return m_db && m_db->IsOpen();
    }
    m_started = true;
    PublishAccessPoints(this, m_db.get(), nullptr, &m_hub);
    if (!InitStorage()) {
        return false;
    }
    m_hub.NotifyDeviceStats(kLocalDevice);
    ImportLeftovers();
    m_updateCheck.Attach(m_db.get(), m_options.programPath);
    if (m_options.checkForUpdatesAtStart) {
        CheckForUpdates(true);
    }
    if (m_options.startWatcher) {
        StartWatcher();
    }
    return true;
}

void CVellumoCore::ImportLeftovers() {
    std::shared_ptr<UploadStaging> staging = std::move(m_leftoverStaging);
    std::vector<UploadStaging::Leftover> leftovers;
    leftovers.swap(m_leftovers);
    if (!staging) {
        return;
    }
    for (UploadStaging::Leftover& leftover : leftovers) {
        std::string name = leftover.file.filename().string();
        // A photo that cannot be stored now stays for the next start: nothing is deleted that
        // was not stored.
        ImportUpload(leftover.file, leftover.deviceKey, leftover.token,
                     [staging, id = leftover.id, name](int64_t pid) {
                         if (pid != 0) {
                             staging->Remove(id, name);
                         }
                     });
    }
}

bool CVellumoCore::InitStorage() {
    std::error_code ec;
    fs::path temp = NewTempFolderPath();
    fs::create_directories(temp, ec);
    if (ec && ec != std::errc::file_exists) {
        m_storageError = "无法创建临时文件目录.";
        ShowMessage("", m_storageError);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_pathLock);
        m_temp = temp;
    }

    m_firstRun = m_pointerFile.empty() || !fs::exists(m_pointerFile, ec);
    fs::path root = NormalizeRoot(ReadSettingsRoot(m_pointerFile));
    if (root.empty()) {
        root = NormalizeRoot(DefaultStorageRoot());
    }
    if (root.empty()) {
        m_storageError = "无法打开配置目录.";
        ShowMessage("", m_storageError);
        return false;
    }
    SetPaths(root);
    fs::create_directories(root / kReposFolderName, ec);
    fs::create_directories(root / kThumbFolderName, ec);

    m_db->SetServicePort(m_options.servicePort == CoreOptions::kDefaultServicePort
                             ? CHServer::DefaultPort()
                             : m_options.servicePort);
    m_db->SetMachineIdSource([] { return ::GetMachineId(); });
    // The routes are in place before the first open starts the service; later opens (after a
    // root move) find them there.
    if (CHWebServer* server = m_db->GetWebServer()) {
        RegisterPhoneEndpoints(*server);
    }
    // Bodies a crash left half-written go before the service can receive new ones; the
    // complete photos are queued once the library is open.
    m_leftoverStaging = UploadStaging::Open(root);
    if (m_leftoverStaging) {
        m_leftovers = m_leftoverStaging->TakeLeftovers();
    }
    if (m_db->OpenLibrary(root) == 0) {
        m_storageError = m_db->LastOpenError();
        if (m_storageError.empty()) {
            m_storageError = "cannot open the library in " + root.string();
        }
        ShowMessage("Vellumo", m_storageError);
        return false;
    }
    return true;
}

void CVellumoCore::SetPaths(const fs::path& root) {
    std::lock_guard<std::mutex> lock(m_pathLock);
    m_root = root;
    m_repos = root / kReposFolderName;
    m_thumb = root / kThumbFolderName;
}

void CVellumoCore::StartWatcher() {
    if (m_watcher) {
        m_watcher->Start(GetReposPath());
    }
}

void CVellumoCore::Stop() {
    if (m_stopped) {
        return;
    }
    {
        // A root change running on another thread ends first; later ones are refused.
        std::lock_guard<std::mutex> moveLock(m_moveLock);
        m_stopped = true;
    }
    // Before the report is stored: a check still starting would otherwise clear it.
    m_updateCheck.Stop();
    if (m_db && m_db->IsOpen()) {
        m_db->SetConfig(kUsageKey, m_counters.ReportText(::GetMachineId()));
    }
    if (m_watcher) {
        m_watcher->Stop();
    }
    // From here on imports go nowhere: the gate drops what arrives and what it held, and
    // neither local-import stage can start the other again.
    {
        std::unique_lock<std::mutex> lock(m_gateLock);
        m_gateClosed = true;
        m_held.clear();
        m_gateCv.wait(lock, [this] { return m_gateInFlight == 0; });
    }
    m_gateCv.notify_all();
    m_localImport.Stop();
    if (m_db) {
        if (m_db->IsOpen()) {
            m_db->SaveIndexes();
        }
        // Stops the service and joins the library's workers while everything they call into
        // (this object, the hub, the access points) is still alive.
        m_db.reset();
    }
    m_watcher.reset();
    if (m_started) {
        ClearAccessPoints();
    }
    std::error_code ec;
    fs::path temp = GetTempFolder();
    if (!temp.empty()) {
        fs::remove(temp, ec); // only when empty
    }
}

bool CVellumoCore::CheckForUpdates(bool quiet) {
    if (m_stopped || !m_db || !m_db->IsOpen()) {
        return false;
    }
    return m_updateCheck.Start(quiet);
}

fs::path CVellumoCore::GetTempFolder() {
    std::lock_guard<std::mutex> lock(m_pathLock);
    return m_temp;
}

int CVellumoCore::WaitServicePort(int timeoutMs) {
    if (!m_db) {
        return 0;
    }
    CHWebServer* server = m_db->GetWebServer();
    if (server == nullptr || !server->WaitListening(timeoutMs)) {
        return 0;
    }
    return server->BoundPort();
}

std::string CVellumoCore::SiteAddressNow(SiteLink which) {
    return SiteAddress(which, GetLocalIP(), WaitServicePort(0));
}

fs::path CVellumoCore::GetRootPath() {
    std::lock_guard<std::mutex> lock(m_pathLock);
    return m_root;
}

fs::path CVellumoCore::GetReposPath() {
    std::lock_guard<std::mutex> lock(m_pathLock);
    return m_repos;
}

fs::path CVellumoCore::GetThumbPath() {
    std::lock_guard<std::mutex> lock(m_pathLock);
    return m_thumb;
}

std::string CVellumoCore::LastRootMoveError() {
    std::lock_guard<std::mutex> lock(m_moveLock);
    return m_moveError;
}

bool CVellumoCore::SetRootPath(const fs::path& requested) {
    return MoveRoot(requested) == RootChange::Done;
}

bool CVellumoCore::RootHoldsLibrary(const fs::path& root) {
    return CRootMover(root, root).TargetHoldsLibrary();
}

CVellumoCore::RootChange CVellumoCore::MoveRoot(const fs::path& root, std::string* reason) {
    return ChangeRoot(&CVellumoCore::MoveRootLocked, root, reason);
}

CVellumoCore::RootChange CVellumoCore::AdoptRoot(const fs::path& root, std::string* reason) {
    return ChangeRoot(&CVellumoCore::AdoptRootLocked, root, reason);
}

CVellumoCore::RootChange
CVellumoCore::ChangeRoot(RootChange (CVellumoCore::*change)(const fs::path&), const fs::path& root,
                         std::string* reason) {
    std::lock_guard<std::mutex> moveLock(m_moveLock); // one root change at a time
    m_moveError.clear();
    RootChange result = (this->*change)(root);
    if (reason != nullptr) {
        *reason = m_moveError;
    }
    return result;
}

CVellumoCore::RootChange CVellumoCore::MoveRootLocked(const fs::path& requested) {
    if (!m_db || m_stopped) {
        m_moveError = "Vellumo is shutting down";
        return RootChange::Refused;
    }
    fs::path oldRoot = GetRootPath();
    fs::path newRoot = NormalizeRoot(requested);
    CRootMover mover(oldRoot, newRoot);
    mover.SetForceCopy(m_options.forceCopyOnMove);

    std::string reason;
    RootMoveStatus status = oldRoot.empty() ? RootMoveStatus::Moved : mover.Check(reason);
    if (status == RootMoveStatus::SameRoot) {
        // Nothing moves; the choice is still recorded (the first run ends this way).
        if (!WriteSettingsRoot(m_pointerFile, oldRoot)) {
            m_moveError = "cannot write " + m_pointerFile.string();
            return RootChange::Failed;
        }
        return RootChange::Done;
    }
    if (status != RootMoveStatus::Moved) {
        m_moveError = reason;
        std::string adoptReason;
        return mover.TargetHoldsLibrary() && mover.CheckAdopt(adoptReason) == RootMoveStatus::Moved
                   ? RootChange::HoldsLibrary
                   : RootChange::Refused;
    }
    if (oldRoot.empty()) {
        return UseFirstRoot(newRoot);
    }

    bool paused = PauseImports(kImportDrainMs);
    if (!paused) {
        ResumeImports();
        m_moveError = "imports are still running; try again later";
        return RootChange::Refused;
    }
    WithLibraryClosed([&] {
        status = mover.Move([&] { return WriteSettingsRoot(m_pointerFile, newRoot); }, reason);
        if (status != RootMoveStatus::Moved) {
            m_moveError = reason;
            return;
        }
        // Uploads still being received there were refused while the gate was shut.
        UploadStaging::RemoveIfEmpty(oldRoot);
        SetPaths(newRoot);
        std::error_code ec;
        fs::create_directories(newRoot / kReposFolderName, ec);
        fs::create_directories(newRoot / kThumbFolderName, ec);
    });
    return status == RootMoveStatus::Moved ? RootChange::Done : RootChange::Failed;
}

CVellumoCore::RootChange CVellumoCore::AdoptRootLocked(const fs::path& requested) {
    if (!m_db || m_stopped) {
        m_moveError = "Vellumo is shutting down";
        return RootChange::Refused;
    }
    fs::path oldRoot = GetRootPath();
    fs::path newRoot = NormalizeRoot(requested);
    CRootMover mover(oldRoot, newRoot);
    std::string reason;
    RootMoveStatus status = mover.CheckAdopt(reason);
    if (oldRoot.empty()) {
        // No current root to be nested in: only the library file counts.
        status = mover.TargetHoldsLibrary() ? RootMoveStatus::Moved : RootMoveStatus::Refused;
        reason = newRoot.string() + " holds no library";
    }
    if (status == RootMoveStatus::SameRoot) {
        if (!WriteSettingsRoot(m_pointerFile, oldRoot)) {
            m_moveError = "cannot write " + m_pointerFile.string();
            return RootChange::Failed;
        }
        return RootChange::Done;
    }
    if (status != RootMoveStatus::Moved) {
        m_moveError = reason;
        return RootChange::Refused;
    }
    if (oldRoot.empty()) {
        return UseFirstRoot(newRoot);
    }

    if (!PauseImports(kImportDrainMs)) {
        ResumeImports();
        m_moveError = "imports are still running; try again later";
        return RootChange::Refused;
    }
    RootChange result = RootChange::Failed;
    WithLibraryClosed([&] {
        if (!WriteSettingsRoot(m_pointerFile, newRoot)) {
            m_moveError = "cannot write " + m_pointerFile.string();
            return;
        }
        std::error_code ec;
        fs::create_directories(newRoot / kReposFolderName, ec);
        fs::create_directories(newRoot / kThumbFolderName, ec);
        if (m_db->OpenLibrary(newRoot) != 0 && m_db->IsOpen()) {
            UploadStaging::RemoveIfEmpty(oldRoot);
            SetPaths(newRoot);
            result = RootChange::Done;
            return;
        }
        // The old root comes back in use; its library is reopened below.
        m_moveError = m_db->LastOpenError();
        if (m_moveError.empty()) {
            m_moveError = "cannot open the library in " + newRoot.string();
        }
        m_db->CloseLibrary();
        WriteSettingsRoot(m_pointerFile, oldRoot);
    });
    return result;
}

CVellumoCore::RootChange CVellumoCore::UseFirstRoot(const fs::path& root) {
    std::error_code ec;
    fs::create_directories(root / kReposFolderName, ec);
    fs::create_directories(root / kThumbFolderName, ec);
    if (!WriteSettingsRoot(m_pointerFile, root)) {
        m_moveError = "cannot write " + m_pointerFile.string();
        return RootChange::Failed;
    }
    SetPaths(root);
    m_storageError.clear();
    if (m_db->OpenLibrary(root) == 0 || !m_db->IsOpen()) {
        m_moveError = m_db->LastOpenError();
        if (m_moveError.empty()) {
            m_moveError = "cannot open the library in " + root.string();
        }
        return RootChange::Failed;
    }
    return RootChange::Done;
}

void CVellumoCore::WithLibraryClosed(const std::function<void()>& step) {
    // Imports are paused by the caller.
    bool watching = m_watcher && m_watcher->IsRunning();
    if (m_watcher) {
        m_watcher->Stop();
    }
    m_db->CloseLibrary();
    step();
    if (!m_db->IsOpen()) {
        m_db->OpenLibrary(GetRootPath());
    }
    if (watching) {
        StartWatcher();
    }
    ResumeImports();
}

bool CVellumoCore::PauseImports(int timeoutMs) {
    {
        std::unique_lock<std::mutex> lock(m_gateLock);
        m_gatePaused = true;
        m_gateCv.wait(lock, [this] { return m_gateInFlight == 0; });
    }
    return m_db->WaitIdle(timeoutMs);
}

void CVellumoCore::ResumeImports() {
    // The gate opens only once everything it held is queued: an import arriving meanwhile is
    // held as well, so nothing overtakes an earlier one. The upload service relies on the
    // library storing files in the order they were handed over.
    for (;;) {
        std::vector<HeldImport> held;
        {
            std::lock_guard<std::mutex> lock(m_gateLock);
            if (m_gateClosed || m_held.empty()) {
                m_gatePaused = false;
                return;
            }
            held.swap(m_held);
            ++m_gateInFlight;
        }
        for (const HeldImport& job : held) {
            SendToLibrary(job.file, job.deviceKey, job.token);
        }
        {
            std::lock_guard<std::mutex> lock(m_gateLock);
            --m_gateInFlight;
        }
        m_gateCv.notify_all();
    }
}

void CVellumoCore::QueueToLibrary(const fs::path& file, const std::string& deviceKey,
                                  const std::string& token) {
    {
        std::lock_guard<std::mutex> lock(m_gateLock);
        if (m_gateClosed) {
            return;
        }
        if (m_gatePaused) {
            m_held.push_back(HeldImport{file, deviceKey, token});
            return;
        }
        ++m_gateInFlight;
    }
    SendToLibrary(file, deviceKey, token);
    {
        std::lock_guard<std::mutex> lock(m_gateLock);
        --m_gateInFlight;
    }
    m_gateCv.notify_all();
}

void CVellumoCore::SendToLibrary(const fs::path& file, const std::string& deviceKey,
                                 const std::string& token) {
    m_db->QueueImport(
        file, deviceKey,
        [this](int phase, int index, int total, const fs::path&, const std::string& text,
               intptr_t) { OnImportProgress(phase, index, total, text); },
        reinterpret_cast<intptr_t>(this), token);
}

void CVellumoCore::OnImportProgress(int phase, int index, int total, const std::string& text) {
    // Phase 0 carries the device key; the animation runs while local files are being stored
    // and stops when the last file of the run is done, whoever sent it.
    bool busy;
    if (phase == 1 && index == total) {
        busy = false;
    } else if (phase == 0 && text == kLocalDevice && index != total) {
        busy = true;
    } else {
        return;
    }
    std::function<void(bool)> listener;
    {
        std::lock_guard<std::mutex> lock(m_busyLock);
        if (busy == m_busy) {
            return;
        }
        m_busy = busy;
        listener = m_busyListener;
    }
    if (listener) {
        listener(busy);
    }
}

void CVellumoCore::SetBusyListener(std::function<void(bool busy)> listener) {
    std::lock_guard<std::mutex> lock(m_busyLock);
    m_busyListener = std::move(listener);
}

void CVellumoCore::ImportLocalFiles(const std::vector<fs::path>& paths) {
    m_localImport.Queue(paths, kLocalDevice);
}

void CVellumoCore::ImportUpload(const fs::path& file, const std::string& deviceKey,
                                const std::string& token, std::function<void(int64_t pid)> done) {
    bool admitted = false;
    {
        std::lock_guard<std::mutex> lock(m_gateLock);
        // While the root moves a received photo is not held (its staged file would be left
        // behind): the phone is told "failed" and sends it again.
        admitted = !m_gateClosed && !m_gatePaused && m_db != nullptr;
        if (admitted) {
            ++m_gateInFlight;
        }
    }
    if (!admitted) {
        if (done) {
            done(0);
        }
        return;
    }
    m_db->QueueImportDone(
        file, deviceKey,
        [this](int phase, int index, int total, const fs::path&, const std::string& text,
               intptr_t) { OnImportProgress(phase, index, total, text); },
        reinterpret_cast<intptr_t>(this), token,
        [done = std::move(done)](Pid pid) {
            if (done) {
                done(pid);
            }
        });
    {
        std::lock_guard<std::mutex> lock(m_gateLock);
        --m_gateInFlight;
    }
    m_gateCv.notify_all();
}

int CVellumoCore::ImportFileWithProgress(const fs::path& file, const std::string& deviceKey,
                                         const std::string& extra) {
    QueueToLibrary(file, deviceKey, extra);
    return 1;
}

bool CVellumoCore::SetAutoStart(bool enable) {
    return SetAutoStartEntry(enable, GetModulePath());
}

bool CVellumoCore::SetTrayTip(const std::string& text) {
    std::function<void(const std::string&)> handler;
    {
        std::lock_guard<std::mutex> lock(m_pathLock);
        m_trayTip = text;
        handler = m_tipHandler;
    }
    if (handler) {
        handler(text);
    }
    return true;
}

std::string CVellumoCore::TrayTip() {
    std::lock_guard<std::mutex> lock(m_pathLock);
    return m_trayTip;
}

void CVellumoCore::SetTrayHandlers(
    std::function<void(const std::string&)> tip,
    std::function<bool(const std::string&, const std::string&)> balloon) {
    std::lock_guard<std::mutex> lock(m_pathLock);
    m_tipHandler = std::move(tip);
    m_balloonHandler = std::move(balloon);
}

std::string CVellumoCore::GetLocalIP() {
    return ::GetLocalIP();
}

bool CVellumoCore::ShowBalloon(const std::string& title, const std::string& text) {
    std::function<bool(const std::string&, const std::string&)> handler;
    {
        std::lock_guard<std::mutex> lock(m_pathLock);
        handler = m_balloonHandler;
    }
    return handler ? handler(title, text) : false; // no tray without the desktop window
}

void CVellumoCore::AddCount(int key, int delta) {
    m_counters.Add(key, delta);
}

void CVellumoCore::AddCountItem(int key, const std::string& text) {
    m_counters.AddItem(key, text);
}

void CVellumoCore::SetCount(int key, int value) {
    m_counters.Set(key, value);
}

std::string CVellumoCore::GetPairingPassword() {
    return m_db ? m_db->GetConfig(kPasswordKey) : std::string();
}

bool CVellumoCore::IsValidPairingPassword(const std::string& password) {
    if (password.empty()) {
        return false;
    }
    for (unsigned char c : password) {
        if (c < 0x20 || c == 0x7f) {
            return false;
        }
    }
    std::u16string wide = ToWide(password);
    return !wide.empty() && wide.size() <= 20;
}

bool CVellumoCore::SetPairingPassword(const std::string& password) {
    if (!m_db || !m_db->IsOpen() || !IsValidPairingPassword(password)) {
        return false;
    }
    return m_db->SetConfig(kPasswordKey, password) != 0 && GetPairingPassword() == password;
}

std::string CVellumoCore::RandomPairingPassword() {
    // Rejection keeps the eight digits uniform: 4 200 000 000 is the largest multiple of 10^8
    // below 2^32.
    uint32_t value = 0;
    do {
        RandomBytes(&value, sizeof(value));
    } while (value >= 4200000000u);
    char text[16];
    std::snprintf(text, sizeof(text), "%08u", static_cast<unsigned>(value % 100000000u));
    return text;
}

std::string CVellumoCore::EnsurePairingPassword() {
    std::string password = GetPairingPassword();
    if (password.empty()) {
        password = RandomPairingPassword();
        if (!SetPairingPassword(password)) {
            return std::string();
        }
    }
    return password;
}
