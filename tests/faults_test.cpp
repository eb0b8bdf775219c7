// Whole runs of railmon in the situations that used to cost data, hang it or
// show what the supply never said: stopping with slow calls, closed pipes and
// terminals, a display that is not there, a second railmon, a supply that
// answers nothing or too much, a wall clock set back.
#include "harness_run.h"
#include "railmon-ctrl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

using testing::Contains;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;
using testing::StartsWith;

namespace {

std::vector<std::string> lastCalls(const HarnessRun& run, size_t n)
{
    return std::vector<std::string>(run.calls.end() - static_cast<long>(std::min(n, run.calls.size())),
                                    run.calls.end());
}

class Faults : public testing::Test {
protected:
    void SetUp() override { dir_ = makeTempDir(); }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string dir_;
};

} // namespace

TEST_F(Faults, ClosedTerminalAndClosedPipeStopInOrderAndHandTheSupplyBack)
{
    HarnessOptions hangup;
    hangup.script = "click:PANEL_LOGTOFILE;interval:0.02;click:PANEL_TIMERONOFF";
    hangup.workDir = dir_;
    hangup.timeoutMs = 700;
    hangup.stopSignal = SIGHUP;
    const HarnessRun closedTerminal = runHarness(hangup);
    EXPECT_EQ(closedTerminal.process.signal, 0);
    EXPECT_EQ(closedTerminal.process.exitCode, 0);
    EXPECT_THAT(lastCalls(closedTerminal, 2), ElementsAre("TMI_RemoteLocal 7", "TMI_HandleClose 7"));

    // `railmon | head`: every printed line then meets a closed pipe.
    HarnessOptions piped;
    piped.script = "click:PANEL_READ;click:PANEL_TIMERONOFF;click:PANEL_TIMERONOFF;click:PANEL_EXIT";
    piped.workDir = dir_;
    piped.stdoutToClosedPipe = true;
    const HarnessRun closedPipe = runHarness(piped);
    EXPECT_EQ(closedPipe.process.exitCode, 0) << closedPipe.process.err;
    EXPECT_THAT(lastCalls(closedPipe, 2), ElementsAre("TMI_RemoteLocal 7", "TMI_HandleClose 7"));
}

TEST_F(Faults, AStopCostsAtMostTheCallUnderWayDuringATickAndDuringStartUp)
{
    using Clock = std::chrono::steady_clock;
    const int callMs = 400;
    struct Case {
        const char* when;
        std::string script;
        int stopAtMs;
    };
    // A tick is 12 calls (4.8 s) and start-up 12 queries: a stop that
    // waited for either would take seconds longer than one call.
    const std::vector<Case> cases = {
        {"during a tick", "interval:0.05;click:PANEL_TIMERONOFF", 7000},
        {"during start-up", "", 1500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.when);
        HarnessOptions options;
        options.script = c.script;
        options.workDir = dir_;
        options.env = {{"TMI_FAKE_LATENCY_MS", std::to_string(callMs)}};
        options.timeoutMs = c.stopAtMs;
        options.stopSignal = SIGTERM;
        const auto start = Clock::now();
        const HarnessRun run = runHarness(options);
        const auto afterStop =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count() - c.stopAtMs;
        EXPECT_EQ(run.process.exitCode, 0);
        // The call under way, then the two that hand the supply back.
        EXPECT_LT(afterStop, 4 * callMs) << "the stop waited " << afterStop << " ms";
        EXPECT_THAT(lastCalls(run, 2), ElementsAre("TMI_RemoteLocal 7", "TMI_HandleClose 7"));
    }
}

TEST_F(Faults, ADisplayThatCannotBeOpenedIsSaidPlainlyInsteadOfAborting)
{
    const std::vector<std::pair<std::string, EnvChanges>> cases = {
        {"no X server at DISPLAY", {{"DISPLAY", ":97"}, {"WAYLAND_DISPLAY", std::nullopt}}},
        {"Wayland display without Qt's Wayland platform",
         {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", "wayland-9"}, {"XDG_SESSION_TYPE", "wayland"}}},
        {"WAYLAND_DISPLAY alone", {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", "wayland-9"}}},
    };
    for (const auto& [what, env] : cases) {
        SCOPED_TRACE(what);
        HarnessOptions options;
        options.extraArgs = {};
        options.workDir = dir_;
        options.env = env;
        options.env["QT_QPA_PLATFORM"] = std::nullopt;
        const HarnessRun run = runHarness(options);
        EXPECT_EQ(run.process.signal, 0) << "the toolkit aborted the process";
        EXPECT_EQ(run.process.exitCode, 255);
        EXPECT_THAT(run.process.err, HasSubstr("no display to open"));
        EXPECT_THAT(run.process.err, HasSubstr("-platform offscreen"));
        EXPECT_THAT(run.calls, IsEmpty()) << "an invisible railmon took the supply";
    }
}

TEST_F(Faults, ASecondRailmonOnTheSameSupplySaysSoAndCommandsNothing)
{
    HarnessOptions first;
    first.script = "click:PANEL_LOGTOFILE;interval:0.02;click:PANEL_TIMERONOFF;wait:1500;click:PANEL_EXIT";
    first.workDir = dir_;
    first.env = {{"RAILMON_LOCK_DIR", dir_}, {"RAILMON_REPORT_TICKS", "1"}};
    auto running = std::async(std::launch::async, [&] { return runHarness(first); });
    std::this_thread::sleep_for(std::chrono::milliseconds(600));

    HarnessOptions second;
    second.workDir = dir_;
    second.env = {{"RAILMON_LOCK_DIR", dir_}};
    const HarnessRun refused = runHarness(second);
    const HarnessRun held = running.get();
    EXPECT_EQ(refused.process.exitCode, 255);
    ASSERT_EQ(refused.popups().size(), 1u);
    EXPECT_THAT(refused.popups()[0], StartsWith("Supply in use|railmon (process "));
    EXPECT_THAT(refused.popups()[0], HasSubstr("is already connected to the supply at USB:1:1"));
    EXPECT_THAT(refused.calls, IsEmpty()) << "the second railmon loaded the library";
    EXPECT_EQ(held.process.exitCode, 0);
    EXPECT_THAT(lastCalls(held, 2), ElementsAre("TMI_RemoteLocal 7", "TMI_HandleClose 7"));
}

TEST_F(Faults, TheSupplyIsOneRailmonsWhateverTheUserOrTheSessionOfTheSecond)
{
    // The machine's own lock directory, as every railmon finds it: a desktop
    // session and an SSH login differ in their runtime directories.
    HarnessOptions first;
    first.script = "wait:2500;click:PANEL_EXIT";
    first.env = {{"RAILMON_LOCK_DIR", std::nullopt}, {"XDG_RUNTIME_DIR", dir_ + "/desktop"}};
    auto running = std::async(std::launch::async, [&] { return runHarness(first); });
    std::this_thread::sleep_for(std::chrono::milliseconds(800));

    HarnessOptions second;
    second.env = {{"RAILMON_LOCK_DIR", std::nullopt}, {"XDG_RUNTIME_DIR", dir_ + "/ssh"}};
    const HarnessRun refused = runHarness(second);
    EXPECT_EQ(refused.process.exitCode, 255);
    ASSERT_EQ(refused.popups().size(), 1u) << refused.process.out;
    EXPECT_THAT(refused.popups()[0], StartsWith("Supply in use|railmon (process "));
    EXPECT_THAT(refused.popups()[0], HasSubstr(" of user root) is already connected to the supply at USB:1:1"));
    EXPECT_THAT(refused.calls, IsEmpty()) << "the second railmon loaded the library";
    if (geteuid() == 0) {
        // Another account on the same lab PC.
        HarnessOptions other = second;
        other.wrapper = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        const HarnessRun alsoRefused = runHarness(other);
        EXPECT_EQ(alsoRefused.process.exitCode, 255) << alsoRefused.process.out << alsoRefused.process.err;
        EXPECT_THAT(alsoRefused.popups(), ElementsAre(StartsWith("Supply in use|railmon (process ")));
    }
    EXPECT_EQ(running.get().process.exitCode, 0);
}

TEST_F(Faults, NoLockAtAllIsSaidInRedBeforeTheSupplyIsOpened)
{
    HarnessOptions options;
    options.env = {{"RAILMON_LOCK_DIR", dir_ + "/no/such/dir"}};
    options.script = "text:PANEL_STATUS_SUPPLY;click:ExitCB";
    const HarnessRun run = runHarness(options);
    EXPECT_EQ(run.process.exitCode, 0);
    ASSERT_FALSE(run.popups().empty());
    EXPECT_THAT(run.popups()[0],
                StartsWith("Supply not guarded|railmon cannot make sure that no other railmon "
                           "drives the supply at USB:1:1: " +
                           dir_ + "/no/such/dir/railmon-USB_1_1.lock: No such file or directory"));
    // Said before the library was even loaded.
    EXPECT_LT(run.process.out.find("POPUP Supply not guarded"), run.process.out.find("TMI_In loaded."));
    EXPECT_THAT(run.stdoutLines,
                Contains(StartsWith("TEXT PANEL_STATUS_SUPPLY Not guarded against a second railmon (")));
}

TEST_F(Faults, ASetpointTheSupplyNeverGaveIsMarkedAtStartUpAndNeverWritten)
{
    HarnessOptions options;
    options.workDir = dir_;
    options.env = {{"TMI_FAKE_SILENT", "TMI_VoltageQ"}};
    options.script = "text:PANEL_VSET1;tip:PANEL_VSET1;click:PANEL_ENABLE2;click:PANEL_ENABLE3;click:PANEL_ENABLE4;"
                     "click:PANEL_SET;tip:PANEL_VSET1;click:PANEL_EXIT";
    const HarnessRun run = runHarness(options);
    EXPECT_THAT(run.stdoutLines, Contains("TEXT PANEL_VSET1 --- V"));
    EXPECT_EQ(std::count(run.stdoutLines.begin(), run.stdoutLines.end(),
                         "TIP PANEL_VSET1 The supply reported no setpoint; Set writes none until you enter one"),
              2);
    // Set's calls (after start-up's) for channel 1: no voltage written, the
    // rest as always.
    const auto set = std::find(run.calls.rbegin(), run.calls.rend(), "TMI_PresetQ 7").base();
    ASSERT_TRUE(run.calls.end() - set >= 3);
    EXPECT_THAT(std::vector(set, set + 3),
                ElementsAre("TMI_VoltageQ 7 1 2", StartsWith("TMI_Current 7 1 2 "), "TMI_CurrentQ 7 1 2"));
    EXPECT_THAT(run.calls, Not(Contains(StartsWith("TMI_Voltage 7"))));
}

TEST_F(Faults, StatesAndPresetsOutsideThePanelsChoicesShowAsWhatTheyAre)
{
    HarnessOptions options;
    options.workDir = dir_;
    options.env = {{"TMI_FAKE_MAINOUT", "5"}, {"TMI_FAKE_PRESET", "9"}};
    options.script = "text:PANEL_MAINOUTPUT;ctrl:PANEL_MAINOUTPUT;text:PANEL_PRESET;ctrl:PANEL_PRESET;click:PANEL_EXIT";
    const HarnessRun run = runHarness(options);
    EXPECT_THAT(run.stdoutLines, Contains("TEXT PANEL_MAINOUTPUT ? 5")) << "not shown as off";
    EXPECT_THAT(run.stdoutLines, Contains("CTRL PANEL_MAINOUTPUT 5"));
    EXPECT_THAT(run.stdoutLines, Contains("TEXT PANEL_PRESET Preset 9 (not offered)")) << "not a blank selector";
    EXPECT_THAT(run.stdoutLines, Contains("CTRL PANEL_PRESET 9"));
}

TEST_F(Faults, ChartsKeepTheirTimeWhenTheWallClockIsSetBack)
{
    HarnessOptions options;
    options.workDir = dir_;
    options.env = {{"LD_PRELOAD", RAILMON_CLOCK_STEP}, {"CLOCK_STEP_AFTER_MS", "1000"}, {"CLOCK_STEP_BACK_S", "3600"}};
    // Under AddressSanitizer a preloaded library comes before its runtime,
    // which it refuses unless told that this is meant.
    const char* asan = std::getenv("ASAN_OPTIONS");
    options.env["ASAN_OPTIONS"] = std::string(asan ? asan : "") + ":verify_asan_link_order=0";
    options.script = "interval:0.05;click:PANEL_TIMERONOFF;wait:1500;chart:PANEL_VCHART;click:PANEL_EXIT";
    const HarnessRun run = runHarness(options);
    const auto line = std::find_if(run.stdoutLines.begin(), run.stdoutLines.end(),
                                   [](const std::string& l) { return l.rfind("CHART PANEL_VCHART ", 0) == 0; });
    ASSERT_NE(line, run.stdoutLines.end());
    int points = 0;
    double span = 0;
    ASSERT_EQ(std::sscanf(line->c_str(), "CHART PANEL_VCHART %d %lf", &points, &span), 2);
    EXPECT_GT(points, 15);
    // Before the step the points spread over about a second; they must go on
    // spreading after it, not pile up in one instant.
    EXPECT_GT(span, 1.2);
}

TEST_F(Faults, AModelNameLongerThanPromisedIsPrintedWholeWithoutHarm)
{
    HarnessOptions options;
    options.workDir = dir_;
    options.env = {{"TMI_FAKE_MODEL_LENGTH", "1000"}};
    const HarnessRun run = runHarness(options);
    EXPECT_EQ(run.process.signal, 0);
    EXPECT_EQ(run.process.exitCode, 0);
    EXPECT_THAT(run.programLines(), Contains("TMI_ModelNameQ " + std::string(1000, 'M')));
}

TEST_F(Faults, RailmonIsBuiltWithDebiansHardening)
{
    const ProcessResult elf =
        runProcess({"/usr/bin/readelf", "-W", "-h", "-l", "-d", "--dyn-syms", RAILMON_EXECUTABLE}, {});
    ASSERT_EQ(elf.exitCode, 0) << elf.err;
    auto has = [&](const char* text) { return elf.out.find(text) != std::string::npos; };
    EXPECT_TRUE(has("DYN (Position-Independent Executable file)")) << "not PIE";
    EXPECT_TRUE(has("GNU_RELRO")) << "no RELRO";
    EXPECT_TRUE(has("BIND_NOW")) << "no immediate binding";
    EXPECT_TRUE(has("__stack_chk_fail")) << "no stack protector";
    EXPECT_TRUE(has("_chk@")) << "no fortified libc call";
}
