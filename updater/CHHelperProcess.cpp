#include "updater/CHHelperProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

CHHelperProcess::~CHHelperProcess() {
    CloseInput();
    Wait();
}

bool CHHelperProcess::Start(const std::vector<std::string>& argv) {
    int toChild[2];
    int fromChild[2];
    if (argv.empty() || ::pipe2(toChild, O_CLOEXEC) != 0) {
        return false;
    }
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
        ::close(toChild[0]);
        ::close(toChild[1]);
        return false;
    }
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& a : args) {
        argp.push_back(a.data());
    }
    argp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    int started = argv[0].find('/') == std::string::npos
                      ? ::posix_spawnp(&m_pid, argp[0], &actions, &attributes, argp.data(), environ)
                      : ::posix_spawn(&m_pid, argp[0], &actions, &attributes, argp.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    if (started != 0) {
        m_pid = -1;
        ::close(toChild[1]);
        ::close(fromChild[0]);
        return false;
    }
    m_input.Reset(toChild[1]);
    m_output = ::fdopen(fromChild[0], "r");
    return m_output != nullptr;
}

bool CHHelperProcess::ReadLine(std::string& line) {
    line.clear();
    if (!m_output) {
        return false;
    }
    for (int c; (c = std::fgetc(m_output)) != EOF;) {
        if (c == '\n') {
            return true;
        }
        if (line.size() < 65536) {
            line += static_cast<char>(c);
        }
    }
    return !line.empty();
}

bool CHHelperProcess::Send(const std::string& line) {
    std::string text = line + "\n";
    if (!m_input.Valid()) {
        return false;
    }
    ssize_t put;
    do {
        put = ::write(m_input.Get(), text.data(), text.size());
    } while (put < 0 && errno == EINTR);
    return put == static_cast<ssize_t>(text.size());
}

void CHHelperProcess::CloseInput() {
    m_input.Reset();
}

int CHHelperProcess::Wait() {
    if (m_output) {
        std::fclose(m_output);
        m_output = nullptr;
    }
    if (m_pid > 0) {
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        m_pid = -1;
    }
    return m_status;
}
