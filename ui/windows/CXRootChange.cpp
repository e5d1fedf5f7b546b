#include "ui/windows/CXRootChange.h"

#include "library/IDBCenter.h"
#include "platform/Dialogs.h"
#include "platform/UiDispatcher.h"

#include <map>

CXRootChange::CXRootChange(CVellumoCore& core, CHUiDispatcher& ui)
    : m_core(core), m_ui(ui), m_alive(std::make_shared<CXRootChange*>(this)) {}

CXRootChange::~CXRootChange() {
    m_alive.reset();
    JoinWorker();
}

void CXRootChange::JoinWorker() {
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

bool CXRootChange::Start(const fs::path& root, std::function<void(const Result&)> done) {
    if (m_running) {
        return false;
    }
    m_done = std::move(done);
    return Run(Kind::Move, root);
}

bool CXRootChange::StartAdopt(const fs::path& root, std::function<void(const Result&)> done) {
    if (m_running) {
        return false;
    }
    m_done = std::move(done);
    return Run(Kind::Adopt, root);
}

bool CXRootChange::Run(Kind kind, const fs::path& root) {
    // The previous worker has posted its result, so it is at its end.
    JoinWorker();
    m_running = true;
    if (m_busy) {
        m_busy(true);
    }
    std::weak_ptr<CXRootChange*> alive = m_alive;
    CVellumoCore* core = &m_core;
    CHUiDispatcher* ui = &m_ui;
    m_worker = std::thread([alive, core, ui, kind, root] {
        Result result;
        result.kind = kind;
        result.root = root;
        if (!root.empty() && !root.is_absolute()) {
            // A window has no meaningful working folder to resolve it against.
            result.change = CVellumoCore::RootChange::Refused;
            result.reason = "not a full path";
        } else {
            result.change = kind == Kind::Adopt ? core->AdoptRoot(root, &result.reason)
                                                : core->MoveRoot(root, &result.reason);
        }
        ui->Post([alive, result] {
            if (std::shared_ptr<CXRootChange*> self = alive.lock()) {
                (*self)->Finish(result);
            }
        });
    });
    return true;
}

void CXRootChange::Finish(const Result& result) {
    m_running = false;
    if (m_busy) {
        m_busy(false);
    }
    if (result.change == CVellumoCore::RootChange::HoldsLibrary) {
        if (AskOkCancel(kTitle, AdoptQuestion(result.root))) {
            Run(Kind::Adopt, result.root);
            return;
        }
    } else if (result.change != CVellumoCore::RootChange::Done) {
        ShowMessage(kTitle, MessageText(result));
    } else {
        AnnounceNewLibrary(m_core);
    }
    // The handler may start the next change; take it out first.
    std::function<void(const Result&)> done = std::move(m_done);
    m_done = {};
    if (done) {
        done(result);
    }
}

void CXRootChange::AnnounceNewLibrary(CVellumoCore& core) {
    // The library was closed and opened again, perhaps another one with other phones and
    // totals: the panels read their lists and totals anew.
    core.Hub().Notify(NOTIFY_DEVICES_CHANGED);
    core.Hub().NotifyDeviceStats("localhost");
    std::map<std::string, AuthEntry> phones;
    if (IDBCenter* db = core.Library(); db != nullptr && db->GetAuthList(phones) > 0) {
        for (const auto& [key, entry] : phones) {
            core.Hub().NotifyDeviceStats(key);
        }
    }
}

std::string CXRootChange::AdoptQuestion(const fs::path& root) {
    return "目录 " + root.string() +
           " 中已经有一个照片库。\n是否直接使用这个照片库？其中的照片和设置将保持不变，"
           "当前存储目录中的文件也不会被移动。";
}

std::string CXRootChange::MessageText(const Result& result) {
    std::string detail = result.reason.empty() ? std::string() : "\n(" + result.reason + ")";
    switch (result.change) {
    case CVellumoCore::RootChange::Done:
        return std::string();
    case CVellumoCore::RootChange::HoldsLibrary:
        return "目录 " + result.root.string() + " 中已经有一个照片库，无法移动到这里。" + detail;
    case CVellumoCore::RootChange::Refused:
        if (result.root.empty()) {
            return "没有选择存储目录，没有做任何更改。";
        }
        return (result.kind == Kind::Adopt ? "无法使用目录 " : "无法把存储目录移动到 ") +
               result.root.string() + "，没有做任何更改。" + detail;
    case CVellumoCore::RootChange::Failed:
        return (result.kind == Kind::Adopt ? "无法打开目录 " + result.root.string() +
                                                 " 中的照片库，仍在使用原来的存储目录。"
                                           : "移动存储目录失败，所有文件已恢复到原来的位置。") +
               detail;
    }
    return std::string();
}
