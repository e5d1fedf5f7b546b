#pragma once
// Message boxes and file choosers. In headless mode a message is a line on stderr and the
// choosers choose nothing.

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

void SetHeadlessMode(bool headless);
bool IsHeadlessMode();

// Tells the user something. Blocking in the desktop program, a stderr line when headless.
void ShowMessage(const std::string& title, const std::string& text);

// Asks an OK/Cancel question (information icon, no owner window). True only for OK: without
// a desktop (headless, or no backend installed) the answer is Cancel and nothing is shown.
bool AskOkCancel(const std::string& title, const std::string& text);

// (description, pattern) pairs, e.g. {"图片", "*.jpg;*.png"}.
using FileFilterList = std::vector<std::pair<std::string, std::string>>;
// Number of paths chosen (0 when headless or cancelled).
int ChooseFiles(void* owner, const FileFilterList& filters, std::vector<fs::path>& out);
bool ChooseFolder(void* owner, fs::path& out);

// The desktop program installs its GTK dialogs here; platform/ itself stays free of GTK.
// Without a backend (or when headless) a message is a stderr line "title: text", questions are
// answered Cancel and the choosers choose nothing.
struct DialogBackend {
    std::function<void(const std::string& title, const std::string& text)> showMessage;
    // True for OK. Called from worker threads too: the backend hands the dialog to its UI thread.
    std::function<bool(const std::string& title, const std::string& text)> askOkCancel;
    std::function<int(void* owner, const FileFilterList& filters, std::vector<fs::path>& out)>
        chooseFiles;
    std::function<bool(void* owner, fs::path& out)> chooseFolder;
};
void SetDialogBackend(const DialogBackend& backend);
