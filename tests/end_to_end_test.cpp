// railmon's real main on the simulated supply, worked by a scripted operator.
#include "harness_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

using testing::Contains;

class OnSimulatedSupply : public testing::Test {
protected:
    void SetUp() override { dir_ = makeTempDir(); }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    HarnessRun run(const std::string& script, EnvChanges extra = {}, int timeoutMs = 30000)
    {
        HarnessOptions options;
        options.library = RAILMON_BIN_DIR;
        options.script = script;
        options.workDir = dir_;
        options.timeoutMs = timeoutMs;
        options.env = {{"TMI_SIM_STATE", dir_ + "/sim.state"},
                       {"TMI_SIM_NOISE", "0"},
                       {"TMI_SIM_LOAD", "100,100,10,10"}};
        for (const auto& [name, value] : extra)
            options.env[name] = value;
        return runHarness(options);
    }
    std::string dir_;
};

TEST_F(OnSimulatedSupply, SetThenReadShowsTheOutputsFollowingInCvAndCc)
{
    const HarnessRun r = run(
        "click:SwitchOnOffCB;"
        "value:PANEL_VSET1=12;value:PANEL_ISET1=1;value:PANEL_VSET3=5;value:PANEL_ISET3=0.2;click:SetCB;click:ReadCB;"
        "ctrl:PANEL_VMON1;ctrl:PANEL_IMON1;ctrl:PANEL_CVCC1;ctrl:PANEL_VMON3;ctrl:PANEL_IMON3;ctrl:PANEL_CVCC3;click:"
        "ExitCB");
    ASSERT_EQ(r.process.exitCode, 0) << r.process.err;
    // CH +18V: 12 V into 100 ohm draws 0.12 A, under its 1 A limit.
    EXPECT_THAT(r.stdoutLines, Contains("CTRL PANEL_VMON1 12"));
    EXPECT_THAT(r.stdoutLines, Contains("CTRL PANEL_IMON1 0.12"));
    EXPECT_THAT(r.stdoutLines, Contains("CTRL PANEL_CVCC1 0"));
    // CH +6V: 5 V into 10 ohm would draw 0.5 A; held at 0.2 A, so 2 V.
    EXPECT_THAT(r.stdoutLines, Contains("CTRL PANEL_VMON3 2"));
    EXPECT_THAT(r.stdoutLines, Contains("CTRL PANEL_IMON3 0.2"));
    EXPECT_THAT(r.stdoutLines, Contains("CTRL PANEL_CVCC3 1"));
}

TEST_F(OnSimulatedSupply, MainOutputSwitchDropsAndRestoresTheReadings)
{
    const HarnessRun r = run("click:SwitchOnOffCB;click:ReadCB;ctrl:PANEL_VMON1;click:SwitchOnOffCB;click:ReadCB;ctrl:"
                             "PANEL_VMON1;ctrl:PANEL_IMON1;"
                             "ctrl:PANEL_CVCC1;click:SwitchOnOffCB;click:ReadCB;ctrl:PANEL_VMON1;click:ExitCB");
    const std::vector<std::string> readings = [&] {
        std::vector<std::string> lines;
        for (const std::string& line : r.stdoutLines)
            if (line.rfind("CTRL", 0) == 0)
                lines.push_back(line);
        return lines;
    }();
    EXPECT_THAT(readings,
                testing::ElementsAre("CTRL PANEL_VMON1 9", "CTRL PANEL_VMON1 0", "CTRL PANEL_IMON1 0",
                                     "CTRL PANEL_CVCC1 2", "CTRL PANEL_VMON1 9"));
}

TEST_F(OnSimulatedSupply, PresetRecallSwitchesTheOutputsAndSetpointsSurviveARestart)
{
    HarnessRun r = run("click:SwitchOnOffCB;value:PANEL_VSET1=4.5;click:SetCB;value:SetPresetCB=2;click:ReadCB;ctrl:"
                       "PANEL_VSET1;ctrl:PANEL_VMON1;"
                       "value:SetPresetCB=1;click:ReadCB;ctrl:PANEL_VSET1;ctrl:PANEL_VMON1;click:ExitCB");
    const std::vector<std::string> expected = {"CTRL PANEL_VSET1 9", "CTRL PANEL_VMON1 9", "CTRL PANEL_VSET1 4.5",
                                               "CTRL PANEL_VMON1 4.5"};
    std::vector<std::string> lines;
    for (const std::string& line : r.stdoutLines)
        if (line.rfind("CTRL", 0) == 0)
            lines.push_back(line);
    EXPECT_EQ(lines, expected);

    r = run("ctrl:PANEL_PRESET;ctrl:PANEL_VSET1;click:ExitCB");
    EXPECT_THAT(r.stdoutLines, Contains("CTRL PANEL_PRESET 1"));
    EXPECT_THAT(r.stdoutLines, Contains("CTRL PANEL_VSET1 4.5"));
}

TEST_F(OnSimulatedSupply, ClampedSetpointIsMarkedWithWhatTheSupplyHolds)
{
    const HarnessRun r = run("value:PANEL_VSET1=20;value:PANEL_VSET2=-19;click:SetCB;ctrl:PANEL_VSET1;tip:PANEL_VSET1;"
                             "tip:PANEL_VSET2;tip:PANEL_ISET1;click:ExitCB");
    EXPECT_THAT(r.stdoutLines, Contains("CTRL PANEL_VSET1 20")) << "the operator's value stays";
    EXPECT_THAT(r.stdoutLines, Contains("TIP PANEL_VSET1 The supply holds 18 V"));
    EXPECT_THAT(r.stdoutLines, Contains("TIP PANEL_VSET2 The supply holds -18 V"));
    EXPECT_THAT(r.stdoutLines, Contains("TIP PANEL_ISET1 "));
}

TEST_F(OnSimulatedSupply, KilledWhileLoggingLeavesOnlyCompleteRecordsOfEveryFinishedTick)
{
    const HarnessRun r = run("click:SwitchOnOffCB;value:SetIntervalCB=0.05;click:LogToFileCB;click:TimerOnOffCB",
                             {{"RAILMON_REPORT_TICKS", "1"}}, 1500);
    ASSERT_TRUE(r.process.timedOut) << "the run should have been killed";
    const long ticks = std::count(r.stdoutLines.begin(), r.stdoutLines.end(), "TICK");
    ASSERT_GT(ticks, 5);

    const std::string log = readFile(dir_ + "/railmon.log");
    const std::vector<std::string> lines = linesOf(log);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "#time\tch\tU\tI\tCV_CC");
    EXPECT_EQ(log.back(), '\n') << "a torn last line";
    const std::regex record("[0-9]+\t[1-4]\t-?[0-9.e+-]+\t[0-9.e+-]+\t-?[0-9]+");
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_TRUE(std::regex_match(lines[i], record)) << "line " << i << ": " << lines[i];
    const long records = static_cast<long>(lines.size()) - 1;
    EXPECT_EQ(records % 4, 0) << "a tick was written in part";
    // The kill may fall between a tick's flush and its report.
    EXPECT_GE(records / 4, ticks);
    EXPECT_LE(records / 4, ticks + 1);
}
