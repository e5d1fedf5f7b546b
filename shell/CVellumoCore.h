#pragma once
// The controller core: owns the library (and with it the HTTP service), the notification hub,
// the repository watcher, the local-import queues and the usage counters, and starts and stops
// them in order. The desktop window wraps this object; headless mode runs it on its own.

#include "net/UploadStaging.h"
#include "pairing/SiteLinks.h"
#include "shell/CLocalImport.h"
#include "shell/CNotifyHub.h"
#include "shell/CUpdateCheck.h"
#include "shell/CUsageCounters.h"
#include "shell/IMainWnd.h"

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

#include "library/CHDBCenter.h"

class CHRepositoryWatcher;

struct CoreOptions {
    // The HTTP service port: kDefaultServicePort for $VELLUMO_PORT or 6639, 0 for an
    // ephemeral port, kNoService for no service at all (settings changed from a shell).
    static constexpr int kDefaultServicePort = -2;
    static constexpr int kNoService = -1;
    int servicePort = kDefaultServicePort;
    bool startWatcher = true;
    // The settings pointer file; empty for the user's ($XDG_CONFIG_HOME/Vellumo/Vellumo.cfg).
    fs::path pointerFile;
    // Root moves copy even on one file system (exercises the cross-file-system path).
    bool forceCopyOnMove = false;
    // The program file next to which the updater is looked for; empty for the running one.
    fs::path programPath;
    // Ask the update server at start (settings changed from a shell do not: the check would
    // use up the stored usage report).
    bool checkForUpdatesAtStart = true;
};

class CVellumoCore final : public IMainWnd {
public:
    explicit CVellumoCore(CoreOptions options = {});
    ~CVellumoCore(); // Stop
    CVellumoCore(const CVellumoCore&) = delete;
    CVellumoCore& operator=(const CVellumoCore&) = delete;

    // Start-up in order: publish the access points, find the storage root and create its
    // folders and the temporary folder, open the library (which starts the HTTP service),
    // announce the local device's statistics, start the quiet update check and the repository
    // watcher. False when the storage could not be set up (StorageError says why); the library
    // stays closed then.
    bool Start();
    // Shutdown in order: cancel a running update check, store the usage report, stop the
    // watcher, stop the local-import workers and drop their pending jobs, save the indexes,
    // destroy the library (stopping the service and joining its workers), withdraw the access
    // points. Idempotent.
    void Stop();

    // Asks the update server for a newer version ("检查更新" in the tray menu calls it with
    // quiet false; start-up with quiet true, which says nothing when up to date). False when
    // nothing started: a check is running, the library is closed, or the update server is off.
    bool CheckForUpdates(bool quiet = false);
    bool IsUpdateCheckRunning() const { return m_updateCheck.IsRunning(); }

    // No settings pointer file existed when Start ran.
    bool IsFirstRun() const { return m_firstRun; }
    const std::string& StorageError() const { return m_storageError; }
    const fs::path& PointerFile() const { return m_pointerFile; }
    fs::path GetTempFolder();

    // The library; null after Stop.
    CHDBCenter* Library() { return m_db.get(); }
    CNotifyHub& Hub() { return m_hub; }
    CHRepositoryWatcher* Watcher() { return m_watcher.get(); }
    CLocalImport& LocalImport() { return m_localImport; }
    CUsageCounters& Counters() { return m_counters; }
    // The port the HTTP service listens on, after waiting up to timeoutMs; 0 when it does not.
    int WaitServicePort(int timeoutMs);
    // Where a desktop link or app code leads now: the configured address, else this service's
    // own page at the current address and port (rebuild it each time it is shown).
    std::string SiteAddressNow(SiteLink which);

    std::string GetPairingPassword();
    // 1 to 20 characters of valid UTF-8 text without control characters.
    static bool IsValidPairingPassword(const std::string& password);
    bool SetPairingPassword(const std::string& password);
    // Stores a random password when none is stored; returns the stored password.
    std::string EnsurePairingPassword();
    // The one generator of pairing passwords (headless first run, the wizard): 8 uniformly
    // random digits, so that with the guess limits of "/auth" finding one takes centuries.
    static std::string RandomPairingPassword();

    // What a change of the storage root did.
    enum class RootChange {
        Done,         // the new root is in use and recorded in the settings pointer file
        Refused,      // nothing was touched (the reason says why)
        HoldsLibrary, // refused: the target holds a library, which AdoptRoot can use as it is
        Failed,       // a step failed; everything was put back and the old root is in use
    };
    // Moves the library, Repos and Thumb to root (SetRootPath is this, reduced to a bool). The
    // reason of a refusal or failure goes to *reason and LastRootMoveError.
    RootChange MoveRoot(const fs::path& root, std::string* reason = nullptr);
    // Uses the library already at root as it is: closes the current library, records root in
    // the settings pointer file and opens the library there. Neither folder is moved or
    // rewritten; the old root stays as it was. Refuses a root that holds no library file or
    // lies inside the current root or around it.
    RootChange AdoptRoot(const fs::path& root, std::string* reason = nullptr);
    // Whether root holds a library file (a target MoveRoot refuses and AdoptRoot takes).
    static bool RootHoldsLibrary(const fs::path& root);

    // Why the last root change refused or failed ("" after success).
    std::string LastRootMoveError();

    // Where tray tips and balloons go while the desktop runs (called from any thread; the
    // desktop posts them to its UI thread). Without them tips are only kept and balloons fail.
    void
    SetTrayHandlers(std::function<void(const std::string& tip)> tip,
                    std::function<bool(const std::string& title, const std::string& text)> balloon);
    std::string TrayTip();

    // The busy state of local imports (the desktop shows an animation while it is true).
    void SetBusyListener(std::function<void(bool busy)> listener);

    // IMainWnd
    void* GetHwnd() override { return nullptr; }
    void* GetInstance() override { return nullptr; }
    void* GetFont(bool /*bold*/) override { return nullptr; }
    fs::path GetRootPath() override;
    bool SetRootPath(const fs::path& root) override;
    fs::path GetReposPath() override;
    fs::path GetThumbPath() override;
    bool SetAutoStart(bool enable) override;
    bool SetTrayTip(const std::string& text) override;
    std::string GetLocalIP() override;
    void ImportLocalFiles(const std::vector<fs::path>& paths) override;
    int ImportFileWithProgress(const fs::path& file, const std::string& deviceKey,
                               const std::string& extra) override;
    bool ShowBalloon(const std::string& title, const std::string& text) override;
    void AddCount(int key, int delta) override;
    void AddCountItem(int key, const std::string& text) override;
    void SetCount(int key, int value) override;
    void ImportUpload(const fs::path& file, const std::string& deviceKey, const std::string& token,
                      std::function<void(int64_t pid)> done) override;

private:
    struct HeldImport {
        fs::path file;
        std::string deviceKey;
        std::string token;
    };

    bool InitStorage();
    void SetPaths(const fs::path& root);
    void StartWatcher();
    // Queues the complete photos an earlier run left in the staging folder; each is removed
    // from there once stored. Incomplete bodies were removed before the service started.
    void ImportLeftovers();
    // Every import reaches the library through here, so a root move can hold them back.
    void QueueToLibrary(const fs::path& file, const std::string& deviceKey,
                        const std::string& token);
    // Queues one import past the gate; the caller counts it in m_gateInFlight.
    void SendToLibrary(const fs::path& file, const std::string& deviceKey,
                       const std::string& token);
    void OnImportProgress(int phase, int index, int total, const std::string& text);
    // Holds new imports and waits for those already queued; false on time-out.
    bool PauseImports(int timeoutMs);
    void ResumeImports();
    // Runs one change under the move lock and hands back its reason.
    RootChange ChangeRoot(RootChange (CVellumoCore::*change)(const fs::path&), const fs::path& root,
                          std::string* reason);
    RootChange MoveRootLocked(const fs::path& requested);
    RootChange AdoptRootLocked(const fs::path& requested);
    // Records root and opens its library while storage never came up (nothing to move).
    RootChange UseFirstRoot(const fs::path& root);
    // Closes the library (holding imports and the watcher) around step, then opens the library
    // at whatever root is current afterwards.
    void WithLibraryClosed(const std::function<void()>& step);

    CoreOptions m_options;
    fs::path m_pointerFile;
    bool m_firstRun = false;
    bool m_started = false;
    bool m_stopped = false;
    std::string m_storageError;

    std::mutex m_pathLock;
    fs::path m_root;
    fs::path m_repos;
    fs::path m_thumb;
    fs::path m_temp;
    std::string m_trayTip;
    std::function<void(const std::string&)> m_tipHandler;
    std::function<bool(const std::string&, const std::string&)> m_balloonHandler;

    std::mutex m_moveLock; // one root move at a time
    std::string m_moveError;

    // The import gate.
    std::mutex m_gateLock;
    std::condition_variable m_gateCv;
    bool m_gatePaused = false;
    bool m_gateClosed = false;
    int m_gateInFlight = 0;
    std::vector<HeldImport> m_held;

    std::shared_ptr<UploadStaging> m_leftoverStaging;
    std::vector<UploadStaging::Leftover> m_leftovers;

    std::mutex m_busyLock;
    std::function<void(bool)> m_busyListener;
    bool m_busy = false;

    // Declaration order is the reverse of destruction: the library goes first, while the hub,
    // counters and import queues it may call into still exist.
    CNotifyHub m_hub;
    CUsageCounters m_counters;
    CLocalImport m_localImport;
    std::unique_ptr<CHRepositoryWatcher> m_watcher;
    std::unique_ptr<CHDBCenter> m_db;
    CUpdateCheck m_updateCheck; // stopped first: it reads and clears the stored usage report
};
