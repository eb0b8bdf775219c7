// Whole runs of railmon's real main, headless, with a scripted operator and a
// chosen vendor library; see harness/scripted_operator.cpp for the script.
#pragma once

#include "process.h"
#include "test_paths.h"

#include <string>
#include <vector>

struct HarnessRun {
    ProcessResult process;
    std::vector<std::string> stdoutLines;
    std::vector<std::string> calls; // the fake's call log
    std::vector<std::string> popups() const;
    // stdout without the harness's own reports and Qt's chatter.
    std::vector<std::string> programLines() const;
};

struct HarnessOptions {
    std::string library = std::string(RAILMON_FAKES_DIR) + "/complete"; // LD_LIBRARY_PATH
    std::string script = "click:ExitCB";
    std::string panelDir = RAILMON_SOURCE_DIR;
    std::string workDir;
    EnvChanges env;
    std::vector<std::string> extraArgs = {"-platform", "offscreen"};
    int timeoutMs = 30000;
    int stopSignal = 9; // sent at timeoutMs; SIGKILL
    // Standard output into a pipe whose reader is gone (as `railmon | head`
    // once head has finished); the run's stdout is then lost.
    bool stdoutToClosedPipe = false;
};

HarnessRun runHarness(const HarnessOptions& options);
