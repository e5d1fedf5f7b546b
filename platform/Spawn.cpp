#include "platform/Spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

extern char** environ;

namespace {

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> merged;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        std::string text = *entry;
        std::string name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const std::string& added : extra) {
            if (added.compare(0, name.size() + 1, name + "=") == 0) {
                replaced = true;
            }
        }
        if (!replaced) {
            merged.push_back(std::move(text));
        }
    }
    merged.insert(merged.end(), extra.begin(), extra.end());
    return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

void ReapLater(pid_t pid) {
    try {
        std::thread([pid] {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (...) {
        // Without a thread the child stays a zombie until this process ends.
    }
}

} // namespace

pid_t SpawnDetached(const fs::path& program, const std::vector<std::string>& args,
                    const std::vector<std::string>& extraEnvironment, bool searchPath) {
    std::vector<std::string> argv = {program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp = MergedEnvironment(extraEnvironment);
    std::vector<char*> argPointers = Pointers(argv);
    std::vector<char*> envPointers = Pointers(envp);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // Sockets the service made without close-on-exec (its listening port among them) must not
    // live on in the child.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);

    pid_t pid = -1;
    int rc = searchPath ? ::posix_spawnp(&pid, argv[0].c_str(), &actions, &attributes,
                                         argPointers.data(), envPointers.data())
                        : ::posix_spawn(&pid, argv[0].c_str(), &actions, &attributes,
                                        argPointers.data(), envPointers.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return -1;
    }
    ReapLater(pid);
    return pid;
}

bool IsSafeWebAddress(const std::string& address) {
    size_t prefix = 0;
    if (strncasecmp(address.c_str(), "http://", 7) == 0) {
        prefix = 7;
    } else if (strncasecmp(address.c_str(), "https://", 8) == 0) {
        prefix = 8;
    } else {
        return false;
    }
    if (address.size() <= prefix || address[prefix] == '/') {
        return false; // no host
    }
    for (unsigned char c : address) {
        if (c <= 0x20 || c == 0x7f) {
            return false;
        }
    }
    return true;
}

bool OpenWebAddress(const std::string& address) {
    if (!IsSafeWebAddress(address)) {
        return false;
    }
    return SpawnDetached("xdg-open", {address}, {}, true) > 0;
}
