#pragma once
// The one bridge from worker threads to the UI thread. A worker posts a task; the UI loop runs
// queued tasks in posting order. Nothing ever waits for the UI thread to run a task.
//
// Shut-down order: the core stops its workers first, then Shutdown() drops every queued task
// and refuses new ones, and only then are windows destroyed, so no task can reach a window that
// is gone.

#include <functional>
#include <memory>

class CHUiDispatcher {
public:
    // wake is called (from any thread) when the queue goes from empty to non-empty; the
    // backend answers by calling RunPending on the UI thread soon.
    explicit CHUiDispatcher(std::function<void()> wake = {});
    ~CHUiDispatcher();
    CHUiDispatcher(const CHUiDispatcher&) = delete;
    CHUiDispatcher& operator=(const CHUiDispatcher&) = delete;

    void SetWake(std::function<void()> wake);
    // Any thread. False (and the task is dropped) after Shutdown.
    bool Post(std::function<void()> task);
    // UI thread. Runs the tasks queued before the call; returns how many ran.
    size_t RunPending();
    // UI thread. Drops queued tasks; later posts are refused.
    void Shutdown();
    bool IsShutDown() const;
    // A callable that runs pending tasks and stays safe to call after this object is gone,
    // for backends whose wake-up may fire late.
    std::function<void()> Runner() const;

private:
    struct Core;
    std::shared_ptr<Core> m_core;
};
