// The simulated supply as a Windows DLL under railmon: a smoke run, and its
// state file kept under %LOCALAPPDATA% when no state file is named.
#include "win_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

bool hasLine(const Run& run, const std::string& line)
{
    const std::vector<std::string> lines = run.lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

} // namespace

TEST(WindowsSimulatedSupply, SmokeRunKeepsItsPresetsUnderLocalAppData)
{
    const std::string root = makeTempDir("sim");
    // Two levels that do not exist yet: the simulator creates them.
    const std::string local = root + "\\AppData\\Local";
    const std::string state = local + "\\railmon\\tmi-sim.state";
    const EnvChanges env = {{"LOCALAPPDATA", local}, {"TMI_SIM_STATE", ""}, {"TMI_SIM_NOISE", "0"}};

    const ProbeRun first = runProbe(root, dllPath("sim"), "smoke", "", env);
    EXPECT_EQ(first.run.exitCode, 0) << first.run.err;
    EXPECT_EQ(first.run.err, "");
    const std::vector<std::string> expected = {
        "FALSE =0 TRUE=1",
        "TMI_In loaded.",
        "TMI_ModelNameQ PW-A 18/6 quad (simulated)",
        "TMI device ID 1",
        // Told by the mark it exports, not by where it lies.
        "No TMI_API.dll installed: using the simulated supply " + first.appDir + "\\TMI_API.dll",
        "preset 1 setpoints 9 0.45",
        // The factory presets at their loads, in voltage regulation.
        "reading 1 9.0000 0.0900 0",
        "reading 2 -9.0000 0.0900 0",
        "reading 3 3.0000 0.3000 0",
        "reading 4 -3.0000 0.3000 0",
        "set 5.5 0.25 marked 0",
        // Closed: the supply no longer answers the handle.
        "after close -1",
    };
    EXPECT_EQ(first.run.lines(), expected);

    ASSERT_TRUE(exists(state));
    const std::string text = readFile(state);
    EXPECT_NE(text.find("\n1 1 5.5 0.25\n"), std::string::npos) << text;
    EXPECT_EQ(text.find('\r'), std::string::npos) << "written in binary";
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(local + "\\railmon"))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"tmi-sim.state", "tmi-sim.state.lock"}))
        << "replaced whole: no temporary file left";

    // The next run finds the setpoint it was given.
    const ProbeRun second = runProbe(root, dllPath("sim"), "smoke", "", env);
    EXPECT_TRUE(hasLine(second.run, "preset 1 setpoints 5.5 0.25")) << second.run.out << second.run.err;
    removeTree(root);
}
