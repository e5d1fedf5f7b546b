#include "shell/CLocalImport.h"

#include "library/ScanFolder.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <system_error>

CLocalImport::CLocalImport(Sink sink) : m_sink(std::move(sink)) {}

CLocalImport::~CLocalImport() {
    Stop();
}

bool CLocalImport::IsImageFile(const fs::path& file) {
    std::string extension = file.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".jpg" || extension == ".jpeg" || extension == ".png" ||
           extension == ".gif" || extension == ".bmp" || extension == ".tiff" ||
           extension == ".heic" || extension == ".heif" || extension == ".avif";
}

Json::Value CLocalImport::BuildTree(const std::vector<fs::path>& paths) {
    Json::Value tree(Json::objectValue);
    for (const fs::path& given : paths) {
        fs::path path = given;
        if (!path.has_filename()) {
            path = path.parent_path(); // "/photos/" names the folder "photos"
        }
        std::string name = path.filename().string();
        if (name.empty()) {
            name = path.string();
        }
        std::string key = name;
        for (int n = 2; tree.isMember(key); ++n) {
            key = name + " (" + std::to_string(n) + ")";
        }
        std::error_code ec;
        fs::file_status status = fs::status(path, ec);
        if (fs::is_directory(status)) {
            std::vector<fs::path> files;
            Json::Value folder(Json::objectValue);
            ScanFolder(path, folder, files, [](const fs::path& f) { return IsImageFile(f); });
            tree[key] = folder;
        } else if (fs::is_regular_file(status)) {
            tree[key] = path.string();
        }
    }
    return tree;
}

void CLocalImport::Queue(const std::vector<fs::path>& paths, const std::string& label) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_stopping) {
            return;
        }
        m_stage1.push_back(Stage1Job{paths, label});
    }
    m_worker1.StartOrKeep([this] { RunStage1(); });
}

bool CLocalImport::Stopping() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_stopping;
}

void CLocalImport::RunStage1() {
    for (;;) {
        Stage1Job job;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_stopping || m_stage1.empty()) {
                if (m_worker1.TryFinish() || m_stopping) {
                    m_idle.notify_all();
                    return;
                }
                continue;
            }
            job = std::move(m_stage1.front());
            m_stage1.pop_front();
            ++m_active;
        }
        Json::Value tree = BuildTree(job.paths);
        bool started = false;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            --m_active;
            // Once stopping, stage 1 hands nothing on and never starts stage 2 again.
            if (!m_stopping) {
                m_stage2.push_back(Stage2Job{std::move(tree), job.label});
                started = true;
            }
        }
        if (started) {
            m_worker2.StartOrKeep([this] { RunStage2(); });
        }
        m_idle.notify_all();
    }
}

void CLocalImport::RunStage2() {
    for (;;) {
        Stage2Job job;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_stopping || m_stage2.empty()) {
                if (m_worker2.TryFinish() || m_stopping) {
                    m_idle.notify_all();
                    return;
                }
                continue;
            }
            job = std::move(m_stage2.front());
            m_stage2.pop_front();
            ++m_active;
        }
        Walk(job.tree, job.label);
        {
            std::lock_guard<std::mutex> lock(m_lock);
            --m_active;
        }
        m_idle.notify_all();
    }
}

bool CLocalImport::Walk(const Json::Value& tree, const std::string& label) {
    if (!tree.isObject()) {
        return true;
    }
    for (const std::string& name : tree.getMemberNames()) {
        if (Stopping()) {
            return false;
        }
        const Json::Value& member = tree[name];
        if (member.isString()) {
            m_sink(fs::path(member.asString()), label);
        } else if (member.isObject() && !Walk(member, label)) {
            return false;
        }
    }
    return true;
}

void CLocalImport::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopping = true;
        m_stage1.clear();
        m_stage2.clear();
    }
    m_worker1.Join();
    m_worker2.Join();
    m_idle.notify_all();
}

bool CLocalImport::WaitIdle(int milliseconds) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_idle.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] {
        return m_stopping || (m_stage1.empty() && m_stage2.empty() && m_active == 0 &&
                              !m_worker1.IsRunning() && !m_worker2.IsRunning());
    });
}
