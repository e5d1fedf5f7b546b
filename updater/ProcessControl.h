#pragma once
// Ending the running Vellumo safely and starting programs again.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// Reads a process id given on the command line: plain decimal digits, 1 to the kernel's
// largest pid. -1 when the text is anything else.
pid_t ParseProcessId(const std::string& text);

class CHProcessEnder {
public:
    enum class Result {
        NotRunning, // no such process (already gone)
        NotOurs,    // another program, or another user's: never signalled
        Ended,
        Failed, // it would not end even after SIGKILL
    };

    // termGraceMs: how long SIGTERM gets before SIGKILL.
    explicit CHProcessEnder(int termGraceMs = 10000) : m_termGraceMs(termGraceMs) {}

    // Ends the process only when it runs the program file `program` under our own user. The
    // check and the signals go through a pidfd, so a reused pid is never hit. Returns once the
    // process is gone. The process's arguments (without the program name) are kept for
    // starting it again.
    Result End(pid_t pid, const fs::path& program);
    const std::vector<std::string>& Arguments() const { return m_arguments; }

private:
    int m_termGraceMs;
    std::vector<std::string> m_arguments;
};

// True when the two paths name the same file (device and inode).
bool SameFile(const fs::path& a, const fs::path& b);
