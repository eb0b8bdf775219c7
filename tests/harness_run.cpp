#include "harness_run.h"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

std::vector<std::string> HarnessRun::popups() const
{
    std::vector<std::string> result;
    for (const std::string& line : stdoutLines)
        if (line.rfind("POPUP ", 0) == 0)
            result.push_back(line.substr(6));
    return result;
}

std::vector<std::string> HarnessRun::programLines() const
{
    std::vector<std::string> result;
    for (const std::string& line : stdoutLines) {
        const bool harness = line.rfind("POPUP ", 0) == 0 || line.rfind("STATE ", 0) == 0 ||
            line.rfind("CTRL ", 0) == 0 || line.rfind("TRACES ", 0) == 0 || line.rfind("TIP ", 0) == 0 ||
            line.rfind("TEXT ", 0) == 0 || line.rfind("CHART ", 0) == 0 || line.rfind("TITLE ", 0) == 0 ||
            line == "TICK";
        if (!harness)
            result.push_back(line);
    }
    return result;
}

HarnessRun runHarness(const HarnessOptions& options)
{
    const std::string dir = makeTempDir();
    const std::string log = dir + "/calls.log";
    EnvChanges env = {
        {"LD_LIBRARY_PATH", options.library},
        {"RAILMON_SCRIPT", options.script},
        {"RAILMON_PANEL_DIR", options.panelDir},
        {"TMI_FAKE_LOG", log},
        {"QT_QPA_PLATFORM", std::nullopt},
        // Each run is a bench of its own: railmon allows one instance per
        // supply, found through its lock directory.
        {"XDG_RUNTIME_DIR", dir},
        {"RAILMON_LOCK_DIR", dir},
    };
    for (const auto& [name, value] : options.env)
        env[name] = value;
    std::vector<std::string> argv = options.wrapper;
    argv.push_back(RAILMON_HARNESS);
    argv.insert(argv.end(), options.extraArgs.begin(), options.extraArgs.end());
    if (!options.wrapper.empty())
        std::filesystem::permissions(dir, std::filesystem::perms::all);
    if (options.stdoutToClosedPipe) {
        // head exits at once without reading; the harness's status is kept.
        std::vector<std::string> wrapped = {"/bin/bash", "-c", "\"$@\" | head -c 0; exit ${PIPESTATUS[0]}", "bash"};
        wrapped.insert(wrapped.end(), argv.begin(), argv.end());
        argv = wrapped;
    }

    HarnessRun run;
    run.process =
        runProcess(argv, env, options.timeoutMs, options.workDir.empty() ? dir : options.workDir, options.stopSignal);
    run.stdoutLines = linesOf(run.process.out);
    run.calls = linesOf(readFile(log));
    std::filesystem::remove_all(dir);
    return run;
}

std::string makeGermanLocale(const std::string& dir)
{
    const std::string locales = dir + "/locales";
    std::filesystem::create_directories(locales);
    const ProcessResult made =
        runProcess({"/usr/bin/localedef", "-i", "de_DE", "-f", "UTF-8", locales + "/de_DE.UTF-8"}, {});
    return made.exitCode == 0 ? locales : std::string();
}
