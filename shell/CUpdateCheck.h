#pragma once
// Asks the update server whether a newer Vellumo exists, sending the previous run's usage
// report with the question. When one exists and the user agrees, starts the updater Fernlift
// from the program's folder, or opens the download address in the browser when Fernlift is
// missing. Headless, it only prints where the new version is. One check runs at a time, on its
// own worker thread; Stop cancels a running check at once.

#include "shell/CWorkerSlot.h"

#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

class CHttpAgent;
class IDBCenter;

// What an answer of the update server says.
struct UpdateAnswer {
    enum class Kind {
        UpToDate,   // no "update", not 1, or no JSON object at all
        Incomplete, // "update" is 1 but the version or the address is missing: say nothing
        Available,
    };
    Kind kind = Kind::UpToDate;
    std::string version;     // plain text: control characters removed, at most 32 characters
    std::string downloadUrl; // as sent (checked before it is opened)
};
UpdateAnswer ReadUpdateAnswer(std::string_view body);

// The stored usage report as it is sent: every device key replaced by the MD5 text of the
// machine identity followed by the key (device keys are the phones' credentials). A report
// that is not a JSON object is not sent at all ("").
std::string UsageReportForServer(const std::string& stored, const std::string& machineId);

class CUpdateCheck {
public:
    static constexpr int kTimeoutSeconds = 300;
    static constexpr const char* kUpToDateTitle = "检查更新";
    static constexpr const char* kQuestionTitle = "更新";

    CUpdateCheck() = default;
    ~CUpdateCheck(); // Stop
    CUpdateCheck(const CUpdateCheck&) = delete;
    CUpdateCheck& operator=(const CUpdateCheck&) = delete;

    // The library holding the usage report, and the program file next to which Fernlift is
    // looked for (empty: the running program). Set before the first Start.
    void Attach(IDBCenter* library, fs::path programPath);
    // Starts a check; quiet says nothing when the program is up to date. False (nothing
    // started) while a check runs, after Stop, or when the update server is off.
    bool Start(bool quiet);
    bool IsRunning() const { return m_slot.IsRunning(); }
    // Cancels a running check (ending any network wait within 100 ms) and waits for it; no
    // check starts afterwards.
    void Stop();

private:
    void Run(bool quiet);
    // Sends the question with the report; the answer's body, or false when the exchange failed.
    bool Exchange(CHttpAgent& agent, const std::string& report, std::string& answer);
    void Offer(const UpdateAnswer& answer);
    void HandOver(const UpdateAnswer& answer);
    bool Register(CHttpAgent* agent);

    IDBCenter* m_library = nullptr;
    fs::path m_programPath;
    std::mutex m_lock;
    bool m_stopping = false;
    CHttpAgent* m_agent = nullptr; // the running check's, while it runs
    CWorkerSlot m_slot;
};
