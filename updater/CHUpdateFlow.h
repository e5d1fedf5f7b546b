#pragma once
// One run of the update: ask the server, download the package and its signature, check it,
// let the apply helper unpack and validate it, end the running Vellumo, apply, and start the
// program again. Vellumo is ended only when everything that can fail without touching the
// installation has succeeded, and it is started again whenever it was ended.

#include <sys/types.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

class CHttpAgent;

// What the run shows; called on the worker thread.
class IUpdateView {
public:
    virtual ~IUpdateView() = default;
    virtual void ShowStatus(const std::string& text) = 0;
    virtual void ShowProgress(int percent) = 0; // only when the percent changes
    // The installation is being changed: closing must wait for the commit or the rollback.
    virtual void ApplyStarted() {}
    virtual void ApplyEnded() {}
    virtual void ProgramStarted(const fs::path& /*program*/, pid_t /*pid*/) {}
};

struct UpdateTarget {
    fs::path program;    // the installed Vellumo
    std::string version; // its version text
    pid_t pid = -1;      // the running Vellumo, -1 when none
};

struct UpdateOptions {
    fs::path helper;                                // fernlift itself, for --apply
    std::vector<std::string> elevator = {"pkexec"}; // prefix when the folder is not writable
    bool alwaysElevate = false;
    int termGraceMs = 10000;
    int queryTimeoutSeconds = 300;
};

class CHUpdateFlow {
public:
    enum class Outcome {
        Done,        // installed; the button closes
        NothingToDo, // no update; the button closes
        Failed,      // the button offers a retry
    };

    CHUpdateFlow(UpdateTarget target, UpdateOptions options, IUpdateView& view);
    Outcome Run();
    // From another thread: network waits end at once; a run before the apply stops there.
    void Cancel();
    // The largest package accepted, checked against Content-Length before anything is written.
    static constexpr int64_t kMaxPackageBytes = 512LL * 1024 * 1024;

private:
    class Attempt;
    bool Query(std::string& packageAddress);
    Outcome Install(const std::string& packageAddress);
    bool Download(const std::string& address, const fs::path& file, bool isSignature);
    Outcome ApplyWithHelper(const fs::path& package, const fs::path& signature);
    Outcome FinishApply(class CHHelperProcess& helper, bool ended);
    void StartAgain(const fs::path& lastRun, bool ended);
    void RecoverAfterCrash(bool elevated);
    void Status(const std::string& text);
    void Progress(int percent);
    bool Cancelled() const { return m_cancelled.load(); }
    void SetAgent(CHttpAgent* agent);

    UpdateTarget m_target;
    UpdateOptions m_options;
    IUpdateView& m_view;
    std::atomic<bool> m_cancelled{false};
    std::mutex m_agentLock;
    CHttpAgent* m_agent = nullptr;
    int m_lastPercent = -1;
    std::vector<std::string> m_programArguments; // the ended Vellumo's own arguments
    bool m_elevated = false;
    fs::path m_helperTemp; // the apply helper's private folder
};
