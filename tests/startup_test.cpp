// Start-up to shutdown through railmon's real main, headless.
#include "fake_answers.h"
#include "harness_run.h"
#include "railmon-ctrl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using testing::ElementsAre;
using testing::IsEmpty;

namespace {

std::string fake(const std::string& variant)
{
    return std::string(RAILMON_FAKES_DIR) + "/" + variant;
}

// The shipped panel file with some enable buttons stored as off.
std::string panelWithEnableButtons(const std::string& dir, const std::vector<bool>& on)
{
    std::string panel = readFile(RAILMON_PANEL_FILE);
    for (size_t i = 0; i < on.size(); ++i) {
        const auto widget = panel.find("name=\"enable" + std::to_string(i + 1) + "\"");
        const auto checked = panel.find("<bool>true</bool>", panel.find("name=\"checked\"", widget));
        if (!on[i])
            panel.replace(checked, 17, "<bool>false</bool>");
    }
    writeFile(dir + "/railmon-ctrl.uir", panel);
    return dir;
}

std::vector<std::string> startupQueries(int handle, int preset)
{
    const std::string h = std::to_string(handle), p = std::to_string(preset);
    std::vector<std::string> calls = {"TMI_HandleOpen PW-A USB:1:1", "TMI_ModelNameQ " + h, "TMI_MainOutputQ " + h,
                                      "TMI_PresetQ " + h};
    for (int ch = 1; ch <= 4; ++ch) {
        calls.push_back("TMI_VoltageQ " + h + " " + std::to_string(ch) + " " + p);
        calls.push_back("TMI_CurrentQ " + h + " " + std::to_string(ch) + " " + p);
    }
    return calls;
}

} // namespace

TEST(Startup, NormalRunFillsThePanelFromTheSupplyAndHandsItBackAtExit)
{
    HarnessOptions options;
    options.script = "state;ctrl:PANEL_MAINOUTPUT;ctrl:PANEL_PRESET;ctrl:PANEL_VSET1;ctrl:PANEL_ISET1;"
                     "ctrl:PANEL_VSET2;ctrl:PANEL_ISET2;ctrl:PANEL_VSET3;ctrl:PANEL_ISET3;ctrl:PANEL_VSET4;"
                     "ctrl:PANEL_ISET4;traces:PANEL_ICHART;traces:PANEL_VCHART;click:ExitCB";
    const HarnessRun run = runHarness(options);
    EXPECT_EQ(run.process.exitCode, 0) << run.process.err;
    EXPECT_THAT(run.popups(), IsEmpty());
    EXPECT_THAT(run.programLines(),
                ElementsAre("FALSE =0 TRUE=1", "TMI_In loaded.", "TMI_ModelNameQ FAKE PW-A", "TMI device ID 7"));

    std::vector<std::string> expected = {"# loaded"};
    for (const std::string& call : startupQueries(7, 2))
        expected.push_back(call);
    expected.push_back("TMI_RemoteLocal 7");
    expected.push_back("TMI_HandleClose 7");
    EXPECT_EQ(run.calls, expected);

    auto has = [&](const std::string& line) { return testing::Contains(line); };
    EXPECT_THAT(run.stdoutLines, has("STATE gMask=15 gLogToFile=0"));
    EXPECT_THAT(run.stdoutLines, has("CTRL PANEL_MAINOUTPUT 1")); // main output on
    EXPECT_THAT(run.stdoutLines, has("CTRL PANEL_PRESET 2"));     // active preset
    for (int ch = 1; ch <= 4; ++ch) {
        char line[64];
        std::snprintf(line, sizeof line, "CTRL PANEL_VSET%d %g", ch, fakeVoltage(ch, 2));
        EXPECT_THAT(run.stdoutLines, has(line));
        std::snprintf(line, sizeof line, "CTRL PANEL_ISET%d %g", ch, fakeCurrent(ch, 2));
        EXPECT_THAT(run.stdoutLines, has(line));
    }
    EXPECT_THAT(run.stdoutLines, has("TRACES PANEL_ICHART CH +18V|CH -18V|CH +6V|CH -6V"));
    EXPECT_THAT(run.stdoutLines, has("TRACES PANEL_VCHART CH +18V|CH -18V|CH +6V|CH -6V"));
}

TEST(Startup, ClosingTheWindowShutsDownLikeExit)
{
    HarnessOptions options;
    options.script = "close";
    const HarnessRun run = runHarness(options);
    EXPECT_EQ(run.process.exitCode, 0) << run.process.err;
    ASSERT_GE(run.calls.size(), 2u);
    EXPECT_THAT(std::vector(run.calls.end() - 2, run.calls.end()),
                ElementsAre("TMI_RemoteLocal 7", "TMI_HandleClose 7"));
}

TEST(Startup, MaskComesFromTheEnableButtonsAsStored)
{
    const std::string dir = makeTempDir();
    HarnessOptions options;
    options.script = "state;click:ExitCB";
    options.panelDir = panelWithEnableButtons(dir, {true, false, true, false});
    EXPECT_THAT(runHarness(options).stdoutLines, testing::Contains("STATE gMask=5 gLogToFile=0"));

    options.panelDir = panelWithEnableButtons(dir, {false, false, false, false});
    const HarnessRun run = runHarness(options);
    EXPECT_THAT(run.stdoutLines, testing::Contains("STATE gMask=0 gLogToFile=0"));
    // Disabled channels' setpoints are filled all the same.
    EXPECT_EQ(std::count_if(run.calls.begin(), run.calls.end(),
                            [](const std::string& c) { return c.rfind("TMI_VoltageQ", 0) == 0; }),
              4);
    std::filesystem::remove_all(dir);
}

TEST(Startup, FailuresShowTheirPopupsAndTheProgramStillRuns)
{
    struct Case {
        std::string variant;
        EnvChanges env;
        std::vector<std::string> popups;
    };
    const std::vector<Case> cases = {
        {"none", {}, {"Error|Cannot open USB device", "DLL error|Dll Error", "Error|Not Connected"}},
        {"no-HandleClose", {}, {"Error|Cannot open USB device", "DLL error|Dll Error"}},
        {"no-Delay", {}, {"Error|Cannot open USB device", "DLL error|Dll Error"}},
        {"complete", {{"TMI_FAKE_HANDLE", "-3"}}, {"Error|Not Connected"}},
        {"complete", {{"TMI_FAKE_HANDLE", "0"}}, {}},
    };
    for (const Case& c : cases) {
        HarnessOptions options;
        options.library = fake(c.variant);
        options.env = c.env;
        options.script = "state;click:ExitCB";
        const HarnessRun run = runHarness(options);
        SCOPED_TRACE(c.variant);
        EXPECT_EQ(run.process.exitCode, 0) << run.process.err;
        EXPECT_EQ(run.popups(), c.popups);
        EXPECT_THAT(run.stdoutLines, testing::Contains(testing::StartsWith("STATE "))) << "the panel ran";
    }
}

TEST(Startup, AfterAFailedBindingOnlyBoundEntriesAreCalledAndTheSupplyIsStillHandedBack)
{
    HarnessOptions options;
    options.library = fake("no-Delay");
    const HarnessRun run = runHarness(options);
    EXPECT_EQ(run.process.exitCode, 0);
    // TMI_PresetQ is not bound: the setpoints are asked for preset 0, the
    // defined stand-in, and nothing unbound is reached. At exit the two
    // calls that hand the supply back are looked up afresh, since the
    // connection is open.
    std::vector<std::string> expected = {"# loaded", "TMI_HandleOpen PW-A USB:1:1", "TMI_MainOutputQ 7"};
    for (int ch = 1; ch <= 4; ++ch) {
        expected.push_back("TMI_VoltageQ 7 " + std::to_string(ch) + " 0");
        expected.push_back("TMI_CurrentQ 7 " + std::to_string(ch) + " 0");
    }
    expected.push_back("TMI_RemoteLocal 7");
    expected.push_back("TMI_HandleClose 7");
    EXPECT_EQ(run.calls, expected);
}

TEST(Startup, ZeroHandleIsNotClosedAndNegativeHandleIsUsedAsIs)
{
    HarnessOptions options;
    options.env = {{"TMI_FAKE_HANDLE", "0"}};
    HarnessRun run = runHarness(options);
    EXPECT_THAT(run.calls, testing::Not(testing::Contains(testing::StartsWith("TMI_HandleClose"))));

    options.env = {{"TMI_FAKE_HANDLE", "-3"}};
    run = runHarness(options);
    std::vector<std::string> expected = {"# loaded"};
    for (const std::string& call : startupQueries(-3, 2))
        expected.push_back(call);
    expected.push_back("TMI_RemoteLocal -3");
    expected.push_back("TMI_HandleClose -3");
    EXPECT_EQ(run.calls, expected);
    EXPECT_THAT(run.programLines(), testing::Contains("TMI device ID -3"));
}

TEST(Startup, WithoutThePanelFileTheProgramEndsBeforeLoadingTheLibrary)
{
    const std::string empty = makeTempDir();
    HarnessOptions options;
    options.panelDir = empty;
    const HarnessRun run = runHarness(options);
    EXPECT_EQ(run.process.exitCode, 255); // main returned -1
    EXPECT_EQ(run.process.out, "");
    EXPECT_THAT(run.calls, IsEmpty()) << "the library was loaded";
    EXPECT_THAT(run.process.err, testing::HasSubstr("railmon-ctrl.uir"));
    std::filesystem::remove_all(empty);
}

TEST(Startup, WithoutADisplayTheProgramSaysHowToRunHeadless)
{
    HarnessOptions options;
    options.extraArgs = {};
    options.env = {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}, {"QT_QPA_PLATFORM", std::nullopt}};
    const HarnessRun run = runHarness(options);
    EXPECT_EQ(run.process.exitCode, 255);
    EXPECT_EQ(run.process.signal, 0) << "the toolkit aborted the process";
    EXPECT_THAT(run.process.err, testing::HasSubstr("-platform offscreen"));
    EXPECT_THAT(run.calls, IsEmpty());
}
