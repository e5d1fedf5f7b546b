#pragma once
// Imports photos that are already on the PC, in two stages: stage 1 turns each job's paths
// into a tree of files (folders scanned for image files), stage 2 hands every file of the tree
// to the library. Each stage has its own queue and worker; Stop makes both leave at once.

#include "shell/CWorkerSlot.h"

#include <json/value.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

class CLocalImport {
public:
    // Receives each file of a job with the job's label (the device key it is imported as).
    using Sink = std::function<void(const fs::path& file, const std::string& label)>;

    explicit CLocalImport(Sink sink);
    ~CLocalImport(); // Stop
    CLocalImport(const CLocalImport&) = delete;
    CLocalImport& operator=(const CLocalImport&) = delete;

    // Queues a job; ignored after Stop.
    void Queue(const std::vector<fs::path>& paths, const std::string& label);
    // Drops pending jobs, makes both workers leave and joins them. Final.
    void Stop();
    // Waits until both queues are empty and both workers idle (tests).
    bool WaitIdle(int milliseconds);

    // Stage 1 of one job: a folder becomes a member named after it holding its image files
    // (".jpg", ".jpeg", ".png", ".gif", ".bmp", ".tiff", ".heic", ".heif", ".avif", any case),
    // a file given directly a member holding its path whatever its extension. Members with the
    // same name get " (2)", " (3)", ... so that nothing of the job is lost. The library checks
    // every file's content, whatever its name says.
    static Json::Value BuildTree(const std::vector<fs::path>& paths);
    static bool IsImageFile(const fs::path& file);
    // The pattern of the "添加照片" file dialog's "图片" filter: the same extensions.
    static constexpr const char* kPhotoFilePattern =
        "*.jpg;*.jpeg;*.png;*.gif;*.bmp;*.tiff;*.heic;*.heif;*.avif";

private:
    struct Stage1Job {
        std::vector<fs::path> paths;
        std::string label;
    };
    struct Stage2Job {
        Json::Value tree;
        std::string label;
    };

    void RunStage1();
    void RunStage2();
    // False when stopping interrupted the walk.
    bool Walk(const Json::Value& tree, const std::string& label);
    bool Stopping();

    Sink m_sink;
    std::mutex m_lock; // both queues and the flags
    std::condition_variable m_idle;
    std::deque<Stage1Job> m_stage1;
    std::deque<Stage2Job> m_stage2;
    int m_active = 0; // jobs taken out and still being worked on
    bool m_stopping = false;
    CWorkerSlot m_worker1;
    CWorkerSlot m_worker2;
};
