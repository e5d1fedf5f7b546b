#include "platform/Dialogs.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace {
std::atomic<bool> g_headless{false};
std::mutex g_backendLock;
DialogBackend g_backend;

DialogBackend CurrentBackend() {
    std::lock_guard<std::mutex> lock(g_backendLock);
    return g_backend;
}
} // namespace

void SetHeadlessMode(bool headless) {
    g_headless.store(headless);
}
bool IsHeadlessMode() {
    return g_headless.load();
}

void SetDialogBackend(const DialogBackend& backend) {
    std::lock_guard<std::mutex> lock(g_backendLock);
    g_backend = backend;
}

void ShowMessage(const std::string& title, const std::string& text) {
    if (!IsHeadlessMode()) {
        DialogBackend backend = CurrentBackend();
        if (backend.showMessage) {
            backend.showMessage(title, text);
            return;
        }
    }
    // One write so lines from several threads do not interleave.
    std::string line = title + ": " + text + "\n";
    size_t done = 0;
    while (done < line.size()) {
        ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
}

bool AskOkCancel(const std::string& title, const std::string& text) {
    if (IsHeadlessMode()) {
        return false;
    }
    DialogBackend backend = CurrentBackend();
    return backend.askOkCancel && backend.askOkCancel(title, text);
}

int ChooseFiles(void* owner, const FileFilterList& filters, std::vector<fs::path>& out) {
    out.clear();
    if (IsHeadlessMode()) {
        return 0;
    }
    DialogBackend backend = CurrentBackend();
    if (!backend.chooseFiles) {
        return 0;
    }
    return backend.chooseFiles(owner, filters, out);
}

bool ChooseFolder(void* owner, fs::path& out) {
    if (IsHeadlessMode()) {
        return false;
    }
    DialogBackend backend = CurrentBackend();
    if (!backend.chooseFolder) {
        return false;
    }
    return backend.chooseFolder(owner, out);
}
