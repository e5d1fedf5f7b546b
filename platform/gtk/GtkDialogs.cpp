#include "platform/Dialogs.h"
#include "platform/gtk/GtkDesktop.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int kCancel = 0;

// A dialog asked for by a worker: run on the UI thread, answered through the job.
struct DialogJob {
    std::function<int()> run;
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;
    int result = kCancel;

    void Answer(int value) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!done) {
            done = true;
            result = value;
            answered.notify_all();
        }
    }
};

struct DialogState {
    std::thread::id uiThread;
    std::mutex mutex;
    bool closing = false;
    std::vector<std::shared_ptr<DialogJob>> pending; // guarded by mutex
    std::vector<GtkDialog*> open;                    // UI thread only
};

DialogState& State() {
    static DialogState state;
    return state;
}

bool Closing() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().closing;
}

// Runs a dialog (GTK's nested loop) on the UI thread and keeps it closable at shut-down.
int RunModal(GtkDialog* dialog) {
    State().open.push_back(dialog);
    int response = gtk_dialog_run(dialog);
    auto& open = State().open;
    open.erase(std::remove(open.begin(), open.end(), dialog), open.end());
    gtk_widget_destroy(GTK_WIDGET(dialog));
    return response;
}

gboolean RunJob(gpointer data) {
    auto* job = static_cast<std::shared_ptr<DialogJob>*>(data);
    if (!Closing()) {
        (*job)->Answer((*job)->run());
    }
    (*job)->Answer(kCancel);
    delete job;
    return G_SOURCE_REMOVE;
}

// Runs run() on the UI thread: directly when called there, else handed over while this worker
// waits for the answer. After CloseGtkDialogs every dialog answers Cancel at once.
int OnUiThread(std::function<int()> run) {
    DialogState& state = State();
    if (std::this_thread::get_id() == state.uiThread) {
        return Closing() ? kCancel : run();
    }
    auto job = std::make_shared<DialogJob>();
    job->run = std::move(run);
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.closing) {
            return kCancel;
        }
        state.pending.push_back(job);
    }
    g_main_context_invoke(nullptr, RunJob, new std::shared_ptr<DialogJob>(job));
    int result;
    {
        std::unique_lock<std::mutex> lock(job->mutex);
        job->answered.wait(lock, [&] { return job->done; });
        result = job->result;
    }
    std::lock_guard<std::mutex> lock(state.mutex);
    auto& pending = state.pending;
    pending.erase(std::remove(pending.begin(), pending.end(), job), pending.end());
    return result;
}

GtkDialog* NewMessageDialog(GtkMessageType type, const std::string& title,
                            const std::string& text) {
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, type, GTK_BUTTONS_NONE,
                                               "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), title.c_str());
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    return GTK_DIALOG(dialog);
}

void ShowGtkMessage(const std::string& title, const std::string& text) {
    OnUiThread([&] {
        GtkDialog* dialog = NewMessageDialog(GTK_MESSAGE_INFO, title, text);
        gtk_dialog_add_button(dialog, "确定", GTK_RESPONSE_OK);
        RunModal(dialog);
        return kCancel;
    });
}

bool AskGtkOkCancel(const std::string& title, const std::string& text) {
    return OnUiThread([&] {
               GtkDialog* dialog = NewMessageDialog(GTK_MESSAGE_QUESTION, title, text);
               gtk_dialog_add_button(dialog, "取消", GTK_RESPONSE_CANCEL);
               gtk_dialog_add_button(dialog, "确定", GTK_RESPONSE_OK);
               gtk_dialog_set_default_response(dialog, GTK_RESPONSE_OK);
               return RunModal(dialog) == GTK_RESPONSE_OK ? 1 : kCancel;
           }) == 1;
}

// "*.jpg;*.png" patterns, matched in either letter case as on the platform they come from.
void AddFilters(GtkFileChooser* chooser, const FileFilterList& filters) {
    for (const auto& [description, patterns] : filters) {
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, description.c_str());
        size_t start = 0;
        while (start <= patterns.size()) {
            size_t end = patterns.find(';', start);
            std::string pattern = patterns.substr(start, end - start);
            if (!pattern.empty()) {
                std::string upper = pattern;
                std::transform(upper.begin(), upper.end(), upper.begin(),
                               [](unsigned char c) { return char(std::toupper(c)); });
                gtk_file_filter_add_pattern(filter, pattern.c_str());
                gtk_file_filter_add_pattern(filter, upper.c_str());
            }
            if (end == std::string::npos) {
                break;
            }
            start = end + 1;
        }
        gtk_file_chooser_add_filter(chooser, filter);
    }
}

std::vector<fs::path> RunChooser(GtkFileChooserAction action, const char* title,
                                 const FileFilterList& filters) {
    std::vector<fs::path> chosen;
    OnUiThread([&] {
        // The native chooser goes through the desktop portal where one runs.
        GtkFileChooserNative* chooser =
            gtk_file_chooser_native_new(title, nullptr, action, "确定", "取消");
        GtkFileChooser* files = GTK_FILE_CHOOSER(chooser);
        gtk_file_chooser_set_select_multiple(files, action == GTK_FILE_CHOOSER_ACTION_OPEN);
        gtk_file_chooser_set_local_only(files, TRUE);
        AddFilters(files, filters);
        if (gtk_native_dialog_run(GTK_NATIVE_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
            GSList* names = gtk_file_chooser_get_filenames(files);
            for (GSList* node = names; node != nullptr; node = node->next) {
                chosen.emplace_back(static_cast<char*>(node->data));
            }
            g_slist_free_full(names, g_free);
        }
        g_object_unref(chooser);
        return kCancel;
    });
    return chosen;
}

int ChooseGtkFiles(void*, const FileFilterList& filters, std::vector<fs::path>& out) {
    out = RunChooser(GTK_FILE_CHOOSER_ACTION_OPEN, "添加照片", filters);
    return int(out.size());
}

bool ChooseGtkFolder(void*, fs::path& out) {
    std::vector<fs::path> chosen =
        RunChooser(GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "选择文件夹", {});
    if (chosen.empty()) {
        return false;
    }
    out = chosen.front();
    return true;
}

} // namespace

void InstallGtkDialogBackend() {
    {
        std::lock_guard<std::mutex> lock(State().mutex);
        State().uiThread = std::this_thread::get_id();
        State().closing = false;
    }
    DialogBackend backend;
    backend.showMessage = ShowGtkMessage;
    backend.askOkCancel = AskGtkOkCancel;
    backend.chooseFiles = ChooseGtkFiles;
    backend.chooseFolder = ChooseGtkFolder;
    SetDialogBackend(backend);
}

void ReleaseGtkDialogWaiters() {
    std::vector<std::shared_ptr<DialogJob>> pending;
    {
        std::lock_guard<std::mutex> lock(State().mutex);
        State().closing = true;
        pending = State().pending;
    }
    for (const auto& job : pending) {
        job->Answer(kCancel);
    }
}

void CloseGtkDialogs() {
    ReleaseGtkDialogWaiters();
    // Called on the UI thread: the dialogs' nested loops return Cancel.
    for (GtkDialog* dialog : std::vector<GtkDialog*>(State().open)) {
        gtk_dialog_response(dialog, GTK_RESPONSE_CANCEL);
    }
}
