// Runs a program to completion with a chosen environment and collects what it
// printed, so tests can check whole runs of railmon.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

struct ProcessResult {
    int exitCode = -1; // the exit status, or -1 when killed by a signal
    int signal = 0;    // the signal that ended it, or 0
    bool timedOut = false;
    std::string out, err;
};

// Environment changes on top of this process's: a value to set, or nullopt
// to remove the variable.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

// At timeoutMs the program gets stopSignal (timedOut is then true); one that
// is still running 10 s later is killed.
ProcessResult runProcess(const std::vector<std::string>& argv, const EnvChanges& env, int timeoutMs = 30000,
                         const std::string& workingDirectory = {}, int stopSignal = 9 /* SIGKILL */);

// In a child just forked, with its output already where it should go:
// standard input from /dev/null, then argv[0] run with argv. Exit status 127
// when it cannot be run.
[[noreturn]] void execChild(const std::vector<std::string>& argv);

// Lines of a text, without their line ends.
std::vector<std::string> linesOf(const std::string& text);
// A fresh directory under the system's temporary directory.
std::string makeTempDir();
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);
