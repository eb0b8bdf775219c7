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
    // A command the run is started under, e.g. setpriv as another user (the
    // run's own directory is then open to all).
    std::vector<std::string> wrapper;
    // Standard output into a pipe whose reader is gone (as `railmon | head`
    // once head has finished); the run's stdout is then lost.
    bool stdoutToClosedPipe = false;
};

HarnessRun runHarness(const HarnessOptions& options);

// A German locale made under `dir` (LOCPATH=the result, LC_ALL=de_DE.UTF-8),
// whose numbers have a decimal comma; empty when localedef failed.
std::string makeGermanLocale(const std::string& dir);

// A model name as a misbehaving library might write it, in TMI_FAKE_MODEL_HEX
// form: a terminal title sequence, a carriage return and a newline forging a
// line of railmon's own, a right-to-left override and bytes that are not
// UTF-8.
inline const char* kHostileModelHex =
    "1b5d303b6f776e6564074556494c0d0a544d49206465766963652049442039390ae280ae64726f77fffe";
// The same as railmon shows it.
inline const char* kHostileModelShown =
    "\\x1b]0;owned\\x07EVIL\\x0d\\x0aTMI device ID 99\\x0a\\u202Edrow\xEF\xBF\xBD\xEF\xBF\xBD";
