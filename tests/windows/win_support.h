// What the Windows tests share: where the build put things, folders of
// their own, and running the probe beside a chosen TMI_API.dll.
#pragma once

#include <string>
#include <utility>
#include <vector>

// The build folder (the test program is in its bin/).
std::string buildDir();
// A new empty folder under the user's temporary folder.
std::string makeTempDir(const std::string& tag);
void removeTree(const std::string& path);
std::string readFile(const std::string& path);
std::vector<std::string> readLines(const std::string& path);
bool exists(const std::string& path);

using EnvChanges = std::vector<std::pair<std::string, std::string>>; // an empty value unsets

struct Run {
    int exitCode = -1;
    std::string out, err;                   // line ends as "\n"
    std::vector<std::string> lines() const; // of `out`
};

// Runs `program` with `args` in `cwd`, with `env` changed for it.
Run runProgram(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
               const EnvChanges& env = {});

// Where the probe was put for a run, and what it did there.
struct ProbeRun {
    Run run;
    std::string appDir;  // railmon_probe.exe and the TMI_API.dll under test
    std::string workDir; // its working directory
};
// Copies the probe into a folder of its own under `root` with `dll` beside
// it as TMI_API.dll (none when empty), and runs it in `mode` with `workDir`
// (root\work when empty) as its working directory and a temporary folder of
// its own (so its device lock is its own).
ProbeRun runProbe(const std::string& root, const std::string& dll, const std::string& mode,
                  const std::string& workDir = {}, const EnvChanges& env = {});

// The fake's and the simulator's DLLs, by variant: "complete", "extra",
// "no-Delay", ...; "sim"; "x86" (a 32-bit DLL).
std::string dllPath(const std::string& variant);
