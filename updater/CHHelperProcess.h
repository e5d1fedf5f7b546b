#pragma once
// The apply helper as seen from the updater: started with an argument vector (directly or
// through pkexec), talked to line by line over two pipes.

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

#include "updater/UniqueFd.h"

class CHHelperProcess {
public:
    CHHelperProcess() = default;
    ~CHHelperProcess(); // closes the pipes and waits for the helper
    CHHelperProcess(const CHHelperProcess&) = delete;
    CHHelperProcess& operator=(const CHHelperProcess&) = delete;

    // argv[0] is the program to run (a path, or a bare name looked up in $PATH).
    bool Start(const std::vector<std::string>& argv);
    // The next line the helper wrote, without its line end; false at its end.
    bool ReadLine(std::string& line);
    bool Send(const std::string& line);
    void CloseInput();
    // Waits for the end; the exit status, or 128 + signal when it was killed.
    int Wait();

private:
    pid_t m_pid = -1;
    UniqueFd m_input;
    FILE* m_output = nullptr;
    int m_status = -1;
};
