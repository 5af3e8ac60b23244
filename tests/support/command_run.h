// Running a program through the shell and keeping what it writes on standard output.
#pragma once

#include <stdio.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace krevol::test {

struct CommandRun {
    int exitCode = -1;  // -1: the command could not be started or did not end by itself
    std::string out;    // all of its standard output
};

// Runs `command` with /bin/sh (redirections, environment assignments and quoting as the caller
// writes them) and waits for it to end.
inline CommandRun runCommand(const std::string& command) {
    CommandRun r;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return r;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
    const int status = ::pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

}  // namespace krevol::test
