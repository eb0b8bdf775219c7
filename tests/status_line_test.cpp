// Whole runs: the status line and the window title say which library railmon
// loaded and which supply it reached, or exactly why not; the timer's pace
// when it falls behind; and a supply that is gone leaves the main output
// marked, never showing OFF as if confirmed.
#include "harness_run.h"
#include "test_paths.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

using testing::Contains;
using testing::HasSubstr;
using testing::StartsWith;

namespace {

std::string lineStarting(const HarnessRun& run, const std::string& start)
{
    for (const std::string& line : run.stdoutLines)
        if (line.rfind(start, 0) == 0)
            return line.substr(start.size());
    return "(no " + start + "line)";
}

} // namespace

TEST(StatusLine, NamesTheLibraryAndTheSupplyOrWhyThereIsNone)
{
    const std::string dir = makeTempDir();
    writeFile(dir + "/libTMI_API.so", "not a library\n");
    struct Case {
        const char* what;
        HarnessOptions options;
        std::string supply, title;
    };
    auto with = [](const std::string& variant, EnvChanges env = {}) {
        HarnessOptions options;
        options.library = std::string(RAILMON_FAKES_DIR) + "/" + variant;
        options.env = std::move(env);
        options.script = "text:PANEL_STATUS_SUPPLY;title;click:ExitCB";
        return options;
    };
    HarnessOptions notALibrary = with("complete");
    notALibrary.library = dir;
    const std::string complete = std::string(RAILMON_FAKES_DIR) + "/complete/libTMI_API.so";
    const std::vector<Case> cases = {
        {"a supply", with("complete"), "FAKE PW-A at USB:1:1 (library " + complete + ")", "railmon - FAKE PW-A"},
        {"no library", with("none"), "No supply: cannot load TMI_API.dll: libTMI_API.so not found in ",
         "railmon - no supply"},
        {"not a library", notALibrary, "No supply: cannot load TMI_API.dll: " + dir + "/libTMI_API.so",
         "railmon - no supply"},
        {"a missing export", with("no-Delay"),
         "No supply: " + std::string(RAILMON_FAKES_DIR) + "/no-Delay/libTMI_API.so lacks TMI_Delay",
         "railmon - no supply"},
        {"no device", with("complete", {{"TMI_FAKE_HANDLE", "-3"}}),
         "No supply connected at USB:1:1 (device handle -3) (library " + complete + ")", "railmon - no supply"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const HarnessRun run = runHarness(c.options);
        EXPECT_EQ(run.process.exitCode, 0) << run.process.err;
        EXPECT_THAT(lineStarting(run, "TEXT PANEL_STATUS_SUPPLY "), StartsWith(c.supply));
        EXPECT_EQ(lineStarting(run, "TITLE "), c.title);
    }
    std::filesystem::remove_all(dir);
}

TEST(StatusLine, TellsWhenTheTimerFallsBehindAndWhenTheSupplyIsGone)
{
    // Twelve calls of 120 ms a tick cannot keep 20 ticks a second (the pace
    // is told once three ticks have come, 4.3 s in), and a tick that takes
    // seconds is measured as well as a quick one.
    HarnessOptions slow;
    slow.env = {{"TMI_FAKE_LATENCY_MS", "120"}};
    slow.script = "interval:0.05;click:PANEL_TIMERONOFF;wait:6500;text:PANEL_STATUS_READINGS;click:ExitCB";
    const HarnessRun behind = runHarness(slow);
    EXPECT_THAT(lineStarting(behind, "TEXT PANEL_STATUS_READINGS "), HasSubstr("ticks/s of 20 asked"));

    // The simulated supply without a device: no state came back, so the
    // switch shows none and says so; after a click it is still unconfirmed.
    const std::string dir = makeTempDir();
    HarnessOptions gone;
    gone.library = RAILMON_BIN_DIR;
    gone.env = {{"TMI_SIM_NO_DEVICE", "1"}, {"TMI_SIM_STATE", dir + "/sim.state"}};
    gone.script = "text:PANEL_MAINOUTPUT;tip:PANEL_MAINOUTPUT;click:PANEL_MAINOUTPUT;text:PANEL_MAINOUTPUT;"
                  "tip:PANEL_MAINOUTPUT;text:PANEL_PRESET;click:PANEL_SET;text:PANEL_PRESET;click:ExitCB";
    const HarnessRun run = runHarness(gone);
    EXPECT_THAT(run.stdoutLines, Contains("TEXT PANEL_MAINOUTPUT ?"));
    EXPECT_THAT(run.stdoutLines, Contains(StartsWith("TIP PANEL_MAINOUTPUT No state known")));
    EXPECT_THAT(run.stdoutLines, Contains(HasSubstr("Switched to 1; the supply did not confirm any state")))
        << "the click is not taken as done";
    EXPECT_THAT(run.stdoutLines, testing::Not(Contains("TEXT PANEL_MAINOUTPUT OFF")));
    // Nor is there an active preset to show, at start-up or after Set.
    EXPECT_EQ(std::count(run.stdoutLines.begin(), run.stdoutLines.end(), "TEXT PANEL_PRESET Preset not reported"), 2);

    // A supply that goes away with its output on: the switch's ON is no
    // longer confirmed, and says so.
    HarnessOptions lost = gone;
    lost.env = {{"TMI_SIM_FAIL_AFTER", "30"}, {"TMI_SIM_STATE", dir + "/sim.state"}};
    lost.script = "click:PANEL_MAINOUTPUT;interval:0.05;click:PANEL_TIMERONOFF;wait:800;tip:PANEL_MAINOUTPUT;"
                  "text:PANEL_MAINOUTPUT;click:ExitCB";
    const HarnessRun lostRun = runHarness(lost);
    EXPECT_THAT(lineStarting(lostRun, "TIP PANEL_MAINOUTPUT "), HasSubstr("the outputs may be in any state"));
    EXPECT_EQ(lineStarting(lostRun, "TEXT PANEL_MAINOUTPUT "), "ON?") << "a faded ON, not a confident one";
    std::filesystem::remove_all(dir);
}

TEST(StatusLine, AModelNameIsShownAsTextNeverAsCommandsToTheTerminalOrTheTitle)
{
    HarnessOptions options;
    options.env = {{"TMI_FAKE_MODEL_HEX", kHostileModelHex}};
    options.script = "text:PANEL_STATUS_SUPPLY;title;click:ExitCB";
    const HarnessRun run = runHarness(options);
    EXPECT_EQ(run.process.exitCode, 0) << run.process.err;
    EXPECT_THAT(run.stdoutLines, Contains("TMI_ModelNameQ " + std::string(kHostileModelShown)));
    EXPECT_THAT(run.stdoutLines, testing::Not(Contains("TMI device ID 99"))) << "a forged line";
    EXPECT_EQ(lineStarting(run, "TITLE "), "railmon - " + std::string(kHostileModelShown));
    EXPECT_THAT(lineStarting(run, "TEXT PANEL_STATUS_SUPPLY "), StartsWith(kHostileModelShown));
    for (const char raw : {'\x1b', '\r', '\x07'})
        EXPECT_EQ(run.process.out.find(raw), std::string::npos) << "a raw control character reached the terminal";
    EXPECT_EQ(run.process.out.find("\xE2\x80\xAE"), std::string::npos) << "a raw direction override";
}
