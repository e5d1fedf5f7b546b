#pragma once
// Carries out an upgrade plan on an installation as one transaction. Before each change a line
// is added to a journal and synced; every file replaced or removed is first kept in a backup
// folder inside the installation; new files are written under a temporary name, synced and
// renamed over the old ones. Any failure rolls everything back. A journal without its commit
// mark, found at the next start, is rolled back by Recover before anything else happens.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "updater/UniqueFd.h"
#include "updater/UpgradeScript.h"

namespace fs = std::filesystem;

class CHInstallTransaction {
public:
    enum class Result {
        Committed,
        RolledBack,     // something failed; the installation is as it was
        RollbackFailed, // the journal stays for the next Recover
    };
    enum class Recovery { Nothing, RolledBack, Cleaned, Failed };

    explicit CHInstallTransaction(fs::path installRoot);
    ~CHInstallTransaction();
    CHInstallTransaction(const CHInstallTransaction&) = delete;
    CHInstallTransaction& operator=(const CHInstallTransaction&) = delete;

    // Called after each change with the number of changes made and the number planned.
    void SetProgress(std::function<void(size_t done, size_t total)> progress) {
        m_progress = std::move(progress);
    }
    // Test seam: called before each change; returning false makes that change fail.
    void SetFaultHook(std::function<bool(size_t change)> hook) { m_faultHook = std::move(hook); }

    // Once it returns the installation is committed or back as it was; the kept old files (or
    // the discarded new ones) go with ClearBackup or the destructor, after the caller has had
    // the chance to start the program again.
    Result Apply(const UpgradePlan& plan);
    void ClearBackup();
    const std::string& Error() const { return m_error; }

    // Rolls back an unfinished transaction of an earlier run, or clears a finished one.
    static Recovery Recover(const fs::path& installRoot, std::string* error = nullptr);

private:
    static Recovery Restore(const fs::path& installRoot, std::string* error, bool clear);
    bool Begin();
    bool RemoveEntry(const std::string& relative);
    bool CopyEntry(const UpgradePlan& plan, const UpgradePlan::Copy& copy);
    bool MakeParents(const std::vector<std::string>& parts, UniqueFd& parent);
    bool WriteTemp(const fs::path& source, int parentFd, const std::string& temp,
                   const std::string& leaf);
    bool KeepBackup(int parentFd, const std::string& leaf, const std::string& relative);
    bool Journal(const char* operation, const std::string& relative);
    bool Change(); // counts a change and asks the fault hook
    bool Commit();
    bool Fail(std::string error);

    fs::path m_root;
    UniqueFd m_rootFd;
    UniqueFd m_backupFd;
    UniqueFd m_journalFd;
    std::vector<std::string> m_touchedFolders; // relative folders to sync before the commit
    std::function<void(size_t, size_t)> m_progress;
    std::function<bool(size_t)> m_faultHook;
    bool m_backupToClear = false;
    size_t m_changes = 0;
    size_t m_done = 0;
    size_t m_total = 0;
    std::string m_error;
};
