// Faults, bad input and hard stops: railmon keeps running, never calls an
// unbound entry point, and loses no finished reading. Each case prints a
// summary line with its figures.
#include "harness_run.h"
#include "log_check.h"
#include "panel_edits.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <future>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Everything an operator can do, so every callback runs against whatever
// library is in place; then Exit.
const std::string kWorkEverything =
    "click:SwitchOnOffCB;click:ReadCB;value:PANEL_VSET1=5;click:SetCB;value:SetPresetCB=3;"
    "click:LogToFileCB;interval:0.02;click:TimerOnOffCB;wait:150;click:TimerOnOffCB;"
    "click:SetMaskCB;click:ReadCB;click:SwitchOnOffCB;click:ExitCB";

std::vector<std::string> split(const std::string& text, char by)
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, by);)
        parts.push_back(part);
    return parts;
}

} // namespace

class Reliability : public OnSimulatedSupplyRun { };

TEST_F(Reliability, EveryMissingExportStillStartsShowsItsPopupsAndNeverCallsANullEntry)
{
    std::vector<std::string> variants = {"none"};
    for (const std::string& name : split(RAILMON_ENTRY_NAMES, ','))
        variants.push_back("no-" + name);
    ASSERT_EQ(variants.size(), 40u);

    int survived = 0;
    for (const std::string& variant : variants) {
        SCOPED_TRACE(variant);
        HarnessOptions options;
        options.library = std::string(RAILMON_FAKES_DIR) + "/" + variant;
        options.script = "state;" + kWorkEverything;
        options.workDir = dir_;
        const HarnessRun run = runHarness(options);
        // Without TMI_HandleOpen (or any library) there is no connection either.
        std::vector<std::string> popups = {"Error|Cannot open USB device", "DLL error|Dll Error"};
        if (variant == "none" || variant == "no-HandleOpen")
            popups.push_back("Error|Not Connected");
        EXPECT_EQ(run.process.signal, 0) << run.process.err;
        EXPECT_EQ(run.process.exitCode, 0) << run.process.err;
        EXPECT_EQ(run.popups(), popups);
        EXPECT_THAT(run.stdoutLines, testing::Contains(testing::StartsWith("STATE "))) << "the panel never ran";
        const LogCheck log = checkLog(dir_ + "/railmon.log");
        EXPECT_EQ(log.tornLines, 0);
        survived += run.process.signal == 0 && run.process.exitCode == 0 && run.popups() == popups;
    }
    std::printf("missing exports: %d of %zu libraries started, ran every callback and exited cleanly\n", survived,
                variants.size());
}

TEST_F(Reliability, InjectedFaultsAreSurvivedAndLoggedHonestly)
{
    const std::vector<std::pair<std::string, EnvChanges>> faults = {
        {"device gone after 40 calls", {{"TMI_SIM_FAIL_AFTER", "40"}}},
        {"calls slower than the interval", {{"TMI_SIM_LATENCY_MS", "15"}}},
        {"NaN readings", {{"TMI_SIM_READING", "nan"}}},
        {"infinite readings", {{"TMI_SIM_READING", "inf"}}},
        {"negative infinite readings", {{"TMI_SIM_READING", "-inf"}}},
        {"out-of-range readings", {{"TMI_SIM_READING", "range"}}},
        {"negative unknown CV/CC code", {{"TMI_SIM_CVCC", "-7"}}},
        {"positive unknown CV/CC code", {{"TMI_SIM_CVCC", "99"}}},
        {"no device", {{"TMI_SIM_NO_DEVICE", "1"}}},
    };
    int survived = 0;
    long records = 0;
    for (const auto& [what, env] : faults) {
        SCOPED_TRACE(what);
        std::filesystem::remove(dir_ + "/railmon.log");
        HarnessOptions options = simulated("click:SwitchOnOffCB;click:LogToFileCB;interval:0.02;click:TimerOnOffCB;"
                                           "wait:500;click:ReadCB;click:SetCB;click:ExitCB");
        for (const auto& [name, value] : env)
            options.env[name] = value;
        const HarnessRun run = runHarness(options);
        EXPECT_EQ(run.process.signal, 0) << run.process.err;
        EXPECT_EQ(run.process.exitCode, 0) << run.process.err;
        const LogCheck log = checkLog(dir_ + "/railmon.log");
        EXPECT_TRUE(log.headerOk);
        EXPECT_GT(log.records, 0);
        EXPECT_EQ(log.tornLines, 0);
        EXPECT_EQ(log.partialTicks, 0);
        EXPECT_EQ(log.records / 4, ticksReported(run)) << "an orderly exit keeps every tick";
        survived += run.process.signal == 0 && run.process.exitCode == 0 && log.tornLines == 0;
        records += log.records;
    }
    const std::string gone = readFile(dir_ + "/railmon.log");
    std::printf("injected faults: %d of %zu survived, %ld records, all well-formed\n", survived, faults.size(),
                records);
}

TEST_F(Reliability, DeviceGoneMidRunIsLoggedAsNoReading)
{
    HarnessOptions options = simulated("click:SwitchOnOffCB;click:LogToFileCB;interval:0.02;click:TimerOnOffCB;"
                                       "wait:500;click:ExitCB");
    options.env["TMI_SIM_FAIL_AFTER"] = "40";
    const HarnessRun run = runHarness(options);
    const std::string log = readFile(dir_ + "/railmon.log");
    EXPECT_THAT(log, testing::HasSubstr("\tnan\tnan\t-128\n"));
    EXPECT_THAT(log, testing::Not(testing::HasSubstr("\t0\t0\t")))
        << "a failed query must not be logged as a made-up 0 V / 0 A";
}

TEST_F(Reliability, InAGermanLocaleNumbersAreStillShownWrittenAndReadWithAPoint)
{
    // Qt sets the user's locale for the C library too; de_DE writes 1,5.
    const std::string locales = makeGermanLocale(dir_);
    ASSERT_FALSE(locales.empty()) << "localedef (Debian's locales) failed";
    const std::string done = dir_ + "/done";
    HarnessOptions options = simulated("value:PANEL_VSET1=5.25;text:PANEL_VSET1;click:SetCB;click:SwitchOnOffCB;"
                                       "click:LogToFileCB;interval:0.05;click:TimerOnOffCB;until:" +
                                       done + ";click:ExitCB");
    options.env["LOCPATH"] = locales;
    options.env["LC_ALL"] = "de_DE.UTF-8";
    options.env["RAILMON_METRICS_DIR"] = dir_;
    options.env["TMI_SIM_NOISE"] = "0";
    options.env["TMI_SIM_LOAD"] = "52.5,open,open,open"; // [ohm], read with strtod
    auto running = std::async(std::launch::async, [options] { return runHarness(options); });
    // The export while it runs: once stopped it holds railmon_up 0 alone.
    std::string exported;
    for (int i = 0; i < 200 && exported.find("5.25") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        exported = readFile(dir_ + "/railmon.prom");
    }
    writeFile(done, "");
    const HarnessRun run = running.get();
    ASSERT_EQ(run.process.exitCode, 0) << run.process.err;
    EXPECT_THAT(run.process.err, testing::Not(testing::HasSubstr("TMI_SIM_LOAD")));
    // The entry fields too, as the readouts beside them: "5,250" read back
    // as typed would be 5250.
    EXPECT_THAT(run.process.out, testing::HasSubstr("TEXT PANEL_VSET1 5.250 V"));
    const std::regex comma("[0-9],[0-9]");
    for (const auto& [file, text] : {std::pair<std::string, std::string>{"railmon.prom", exported},
                                     {"railmon.log", readFile(dir_ + "/railmon.log")},
                                     {"sim.state", readFile(dir_ + "/sim.state")}}) {
        SCOPED_TRACE(file);
        EXPECT_THAT(text, testing::HasSubstr("5.25")); // set, read back, exported, logged
        EXPECT_FALSE(std::regex_search(text, comma)) << text;
    }
    const LogCheck log = checkLog(dir_ + "/railmon.log");
    EXPECT_GT(log.records, 20);
    EXPECT_EQ(log.tornLines, 0) << log.firstTorn;
}

TEST_F(Reliability, OrderlyStopOnSigtermAndSigintHandsBackTheSupplyAndKeepsTheLog)
{
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(signal));
        std::filesystem::remove(dir_ + "/railmon.log");
        HarnessOptions options;
        options.script = "click:LogToFileCB;interval:0.02;click:TimerOnOffCB";
        options.workDir = dir_;
        options.env = {{"RAILMON_REPORT_TICKS", "1"}};
        options.timeoutMs = 700;
        options.stopSignal = signal;
        const HarnessRun run = runHarness(options);
        EXPECT_TRUE(run.process.timedOut);
        EXPECT_EQ(run.process.signal, 0);
        EXPECT_EQ(run.process.exitCode, 0);
        ASSERT_GE(run.calls.size(), 2u);
        EXPECT_THAT(std::vector(run.calls.end() - 2, run.calls.end()),
                    testing::ElementsAre("TMI_RemoteLocal 7", "TMI_HandleClose 7"));
        const LogCheck log = checkLog(dir_ + "/railmon.log");
        EXPECT_EQ(log.tornLines, 0);
        EXPECT_GT(log.records, 0);
        EXPECT_EQ(log.records, 4 * ticksReported(run));
    }
}

TEST_F(Reliability, StopSignalDuringAStartupPopupStillShutsDownInFull)
{
    // Without the harness's pop-up capture the pop-up is a real modal box.
    HarnessOptions options;
    options.library = std::string(RAILMON_FAKES_DIR) + "/complete";
    options.env = {{"TMI_FAKE_HANDLE", "-2"}, {"RAILMON_REAL_POPUPS", "1"}};
    options.script = "";
    options.workDir = dir_;
    options.timeoutMs = 1000;
    options.stopSignal = SIGTERM;
    const HarnessRun run = runHarness(options);
    EXPECT_EQ(run.process.signal, 0);
    EXPECT_EQ(run.process.exitCode, 0);
    EXPECT_THAT(run.calls, testing::Contains("TMI_HandleClose -2"));
}

TEST_F(Reliability, MalformedPanelFilesEndTheProgramWithMinusOneAndNeverCrash)
{
    const std::string shipped = readFile(RAILMON_PANEL_FILE);
    int refused = 0, total = 0;
    for (const PanelEdit& malformed : malformedPanelEdits()) {
        SCOPED_TRACE(malformed.name);
        const std::string text = malformed.edit(shipped);
        ASSERT_NE(text, shipped) << "the edit found nothing to change";
        writeFile(dir_ + "/railmon-ctrl.uir", text);
        HarnessOptions options;
        options.panelDir = dir_;
        options.workDir = dir_;
        const HarnessRun run = runHarness(options);
        EXPECT_EQ(run.process.signal, 0);
        EXPECT_EQ(run.process.exitCode, 255);
        EXPECT_THAT(run.calls, testing::IsEmpty()) << "the library was loaded";
        EXPECT_THAT(run.process.err, testing::HasSubstr("railmon-ctrl.uir: "));
        EXPECT_THAT(run.process.err, testing::HasSubstr(malformed.cause));
        EXPECT_EQ(std::count(run.process.err.begin(), run.process.err.end(), '\n'), 1) << run.process.err;
        ++total;
        refused += run.process.exitCode == 255 && run.process.signal == 0;
    }
    EXPECT_GE(total, 28);
    std::printf("malformed panel files: %d of %d refused without a crash\n", refused, total);
}
