// Whole runs against a supply that answers slowly (a USB supply pulled out
// waits for its time-out at every call): the operator can still leave and
// switch off within one call, and the panel says what it waits for.
#include "harness_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

using testing::Contains;
using testing::ElementsAre;
using testing::StartsWith;

namespace {

// The calls after start-up (its last query is TMI_CurrentQ of channel 4).
std::vector<std::string> afterStartUp(const HarnessRun& run)
{
    auto last = std::find(run.calls.rbegin(), run.calls.rend(), "TMI_CurrentQ 7 4 2");
    return {last.base(), run.calls.end()};
}

HarnessOptions slowRun(int msPerCall, const std::string& script)
{
    HarnessOptions options;
    options.env = {{"TMI_FAKE_LATENCY_MS", std::to_string(msPerCall)}};
    options.script = script;
    options.timeoutMs = 60000;
    return options;
}

long count(const std::vector<std::string>& calls, const std::string& call)
{
    return std::count(calls.begin(), calls.end(), call);
}

} // namespace

TEST(SlowSupply, ExitAndClosingTheWindowStopAfterTheCallUnderWayAndHandTheSupplyBack)
{
    // A tick of twelve calls takes 4.8 s; the stop comes 1 s into it.
    for (const char* stop : {"click:PANEL_EXIT", "close"}) {
        SCOPED_TRACE(stop);
        const HarnessRun run =
            runHarness(slowRun(400, std::string("interval:0.05;click:PANEL_TIMERONOFF;wait:1000;") + stop));
        EXPECT_EQ(run.process.exitCode, 0) << run.process.err;
        const std::vector<std::string> calls = afterStartUp(run);
        EXPECT_LT(count(calls, "TMI_MoniDataQ 7 4"), 1) << "the tick under way was finished first";
        ASSERT_GE(calls.size(), 2u);
        EXPECT_THAT(std::vector<std::string>(calls.end() - 2, calls.end()),
                    ElementsAre("TMI_RemoteLocal 7", "TMI_HandleClose 7"));
    }
}

TEST(SlowSupply, SwitchingOffIsTheNextCallAndTheTickGoesOn)
{
    const HarnessRun run = runHarness(
        // The fake starts with the main output on.
        slowRun(400,
                "interval:0.05;click:PANEL_TIMERONOFF;wait:1000;click:PANEL_MAINOUTPUT;"
                "wait:5000;text:PANEL_MAINOUTPUT;click:PANEL_EXIT"));
    EXPECT_EQ(run.process.exitCode, 0) << run.process.err;
    const std::vector<std::string> calls = afterStartUp(run);
    const auto off = std::find(calls.begin(), calls.end(), "TMI_MainOutput 7 0");
    ASSERT_NE(off, calls.end()) << testing::PrintToString(calls);
    const auto firstTickEnd = std::find(calls.begin(), calls.end(), "TMI_MoniDataQ 7 4");
    EXPECT_LT(off, firstTickEnd) << "switched off only after the tick";
    ASSERT_NE(off + 1, calls.end());
    EXPECT_EQ(*(off + 1), "TMI_MainOutputQ 7") << "read back as the switch does";
    EXPECT_NE(firstTickEnd, calls.end()) << "the tick went on afterwards";
    EXPECT_THAT(run.stdoutLines, Contains("TEXT PANEL_MAINOUTPUT OFF"));
}

TEST(SlowSupply, ThePanelSaysWhatItWaitsForAndShowsWhatWouldHaveToWaitUnavailable)
{
    const HarnessRun run =
        runHarness(slowRun(1500,
                           "interval:0.05;click:PANEL_TIMERONOFF;wait:1200;banner;enabled:PANEL_SET;enabled:PANEL_READ;"
                           "enabled:PANEL_EXIT;enabled:PANEL_MAINOUTPUT;click:PANEL_EXIT;"));
    EXPECT_EQ(run.process.exitCode, 0) << run.process.err;
    EXPECT_THAT(run.stdoutLines, Contains(StartsWith("BANNER Waiting for the supply: TMI_")));
    EXPECT_THAT(run.stdoutLines, Contains("ENABLED PANEL_SET 0"));
    EXPECT_THAT(run.stdoutLines, Contains("ENABLED PANEL_READ 0"));
    EXPECT_THAT(run.stdoutLines, Contains("ENABLED PANEL_EXIT 1"));
    // On (the fake starts so): it may be switched off, and only that.
    EXPECT_THAT(run.stdoutLines, Contains("ENABLED PANEL_MAINOUTPUT 1"));
}

TEST(SlowSupply, StartUpSaysItWaitsAndCanBeLeft)
{
    // Twelve calls of 1.5 s before the panel would be shown.
    HarnessOptions options = slowRun(1500, "click:ExitCB");
    options.env["RAILMON_QUIT_WHILE_STARTING_MS"] = "1200";
    const HarnessRun run = runHarness(options);
    EXPECT_EQ(run.process.exitCode, 0) << run.process.err;
    EXPECT_THAT(run.stdoutLines, Contains(StartsWith("STARTING Waiting for the supply: TMI_")));
    ASSERT_GE(run.calls.size(), 2u);
    EXPECT_THAT(std::vector<std::string>(run.calls.end() - 2, run.calls.end()),
                ElementsAre("TMI_RemoteLocal 7", "TMI_HandleClose 7"));
    EXPECT_EQ(count(run.calls, "TMI_CurrentQ 7 4 2"), 0) << "start-up went on to the end";
}

TEST(SlowSupply, ASwitchOffKeptDuringATrippingReadingIsMadeAsAnOffWhateverTheSwitchShowsThen)
{
    // CH +18V's over-current armed below what the fake reads (0.011 A); the
    // fake's output reads back on whatever it is told, so after the trip
    // the switch shows ON again while the operator's off click waits.
    const std::filesystem::path config =
        std::filesystem::temp_directory_path() / ("railmon-slow-trip-" + std::to_string(getpid()));
    std::filesystem::create_directories(config / "railmon");
    std::ofstream(config / "railmon" / "protection.conf") << "railmon-protection 1\n"
                                                             "CH +18V ovp off 20.000 ocp on 0.005 cc off\n"
                                                             "CH -18V ovp off 20.000 ocp off 2.000 cc off\n"
                                                             "CH +6V ovp off 8.000 ocp off 3.500 cc off\n"
                                                             "CH -6V ovp off 8.000 ocp off 3.500 cc off\n";
    HarnessOptions options =
        slowRun(400,
                "interval:0.05;click:PANEL_TIMERONOFF;wait:1000;click:PANEL_MAINOUTPUT;wait:2500;click:PANEL_EXIT");
    options.env["XDG_CONFIG_HOME"] = config.string();
    options.env["TMI_FAKE_MAINOUT_STUCK"] = "1";
    options.env["TMI_FAKE_MAINOUT"] = "1";
    const HarnessRun run = runHarness(options);
    std::filesystem::remove_all(config);
    EXPECT_EQ(run.process.exitCode, 0) << run.process.err;
    const std::vector<std::string> calls = afterStartUp(run);
    EXPECT_GE(count(calls, "TMI_MainOutput 7 0"), 2) << testing::PrintToString(calls);
    EXPECT_EQ(count(calls, "TMI_MainOutput 7 1"), 0) << testing::PrintToString(calls);
}
