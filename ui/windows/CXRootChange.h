#pragma once
// Changes the storage root (a move, or using a library already there) on a worker thread of its
// own, so the window that asked stays responsive while imports drain and files are copied. The
// result comes back on the UI thread through the dispatcher, and is never dropped: a refusal or
// failure is told in a message box, and a target holding a library is offered for adoption.

#include "shell/CVellumoCore.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace fs = std::filesystem;

class CHUiDispatcher;

class CXRootChange {
public:
    enum class Kind { Move, Adopt };
    struct Result {
        Kind kind = Kind::Move;
        fs::path root;
        CVellumoCore::RootChange change = CVellumoCore::RootChange::Refused;
        std::string reason; // the core's words, "" after success
    };

    CXRootChange(CVellumoCore& core, CHUiDispatcher& ui);
    ~CXRootChange(); // waits for a running change: a move is never abandoned half-way
    CXRootChange(const CXRootChange&) = delete;
    CXRootChange& operator=(const CXRootChange&) = delete;

    // UI thread. Called with true when a change starts and false when its result has arrived
    // (before the message boxes and the done handler), so the owner disables its buttons and
    // runs the busy animation in between.
    void SetBusyHandler(std::function<void(bool busy)> handler) { m_busy = std::move(handler); }
    // UI thread. Starts moving the root to root. When the core refuses because a library is
    // there, the user is asked whether to use it as it is and, on OK, it is adopted. done gets
    // the final result (Done only when the root changed); every other result has been told to
    // the user already. False when a change is already running (nothing starts).
    bool Start(const fs::path& root, std::function<void(const Result&)> done);
    // The same, adopting the library at root without asking.
    bool StartAdopt(const fs::path& root, std::function<void(const Result&)> done);
    bool IsRunning() const { return m_running; }

    // Tells the panels that the library behind them changed (after every Done, before the
    // done handler runs).
    static void AnnounceNewLibrary(CVellumoCore& core);
    // What the user is told about a result; "" for Done.
    static std::string MessageText(const Result& result);
    static std::string AdoptQuestion(const fs::path& root);
    static constexpr const char* kTitle = "Vellumo";

private:
    bool Run(Kind kind, const fs::path& root);
    void Finish(const Result& result);
    void JoinWorker();

    CVellumoCore& m_core;
    CHUiDispatcher& m_ui;
    std::function<void(bool)> m_busy;
    std::function<void(const Result&)> m_done;
    bool m_running = false;
    std::thread m_worker;
    // Results posted after this object is gone find the token expired and do nothing.
    std::shared_ptr<CXRootChange*> m_alive;
};
