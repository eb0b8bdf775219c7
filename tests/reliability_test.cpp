// Faults, bad input and hard stops: railmon keeps running, never calls an
// unbound entry point, and loses no finished reading. Each case prints a
// summary line with its figures.
#include "harness_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <random>
#include <regex>
#include <sstream>

namespace {

const std::string kHeader = "#time\tch\tU\tI\tCV_CC";
// A record with any number %g can write: finite, nan or inf, signed.
const std::regex kRecord(R"([0-9]+\t[1-4]\t(-?(nan|inf|[0-9.]+(e[-+][0-9]+)?))\t(-?(nan|inf|[0-9.]+(e[-+][0-9]+)?))\t-?[0-9]+)");

// Everything an operator can do, so every callback runs against whatever
// library is in place; then Exit.
const std::string kWorkEverything = "click:SwitchOnOffCB;click:ReadCB;value:#16=5;click:SetCB;value:SetPresetCB=3;"
                                    "click:LogToFileCB;interval:0.02;click:TimerOnOffCB;wait:150;click:TimerOnOffCB;"
                                    "click:SetMaskCB;click:ReadCB;click:SwitchOnOffCB;click:ExitCB";

struct LogCheck {
    std::string firstTorn; // with where it stands in the file
    long records = 0;
    long tornLines = 0;   // lines that are not whole records
    // A kill during a write that crosses a 4 KiB page of the file can stop
    // the kernel's copy at that page: the tick being written then ends in a
    // part line cut exactly at the boundary. Counted apart from torn lines.
    long pageCuts = 0;
    long partialTicks = 0; // ticks of which only some records reached the file
    bool headerOk = false;
};

// Checks a log written with all four channels enabled.
LogCheck checkLog(const std::string& path)
{
    LogCheck check;
    const std::string text = readFile(path);
    const std::vector<std::string> lines = linesOf(text);
    check.headerOk = !lines.empty() && lines[0] == kHeader;
    size_t offset = lines.empty() ? 0 : lines[0].size() + 1;
    for (size_t i = 1; i < lines.size(); ++i) {
        const bool whole = std::regex_match(lines[i], kRecord) && offset + lines[i].size() < text.size();
        const bool cutAtPage = i + 1 == lines.size() && text.back() != '\n' && text.size() % 4096 == 0;
        if (whole) {
            ++check.records;
        } else if (cutAtPage) {
            ++check.pageCuts;
        } else {
            ++check.tornLines;
            if (check.firstTorn.empty())
                check.firstTorn = "'" + lines[i] + "' at byte " + std::to_string(offset) + " of " +
                                  std::to_string(text.size());
        }
        offset += lines[i].size() + 1;
    }
    // A page cut may also leave whole records of the unfinished tick before it.
    check.partialTicks = check.records % 4 && check.pageCuts == 0 ? 1 : 0;
    return check;
}

std::vector<std::string> split(const std::string& text, char by)
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, by);)
        parts.push_back(part);
    return parts;
}

class Reliability : public testing::Test {
protected:
    void SetUp() override { dir_ = makeTempDir(); }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    HarnessOptions simulated(const std::string& script) const
    {
        HarnessOptions options;
        options.library = RAILMON_BIN_DIR;
        options.script = script;
        options.workDir = dir_;
        options.env = {{"TMI_SIM_STATE", dir_ + "/sim.state"}, {"RAILMON_REPORT_TICKS", "1"}};
        return options;
    }
    static long ticksReported(const HarnessRun& run)
    {
        return std::count(run.stdoutLines.begin(), run.stdoutLines.end(), "TICK");
    }
    std::string dir_;
};

} // namespace

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
    std::printf("injected faults: %d of %zu survived, %ld records, all well-formed\n", survived, faults.size(), records);
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
    int refused = 0, total = 0;
    for (const auto& entry : std::filesystem::directory_iterator(RAILMON_SOURCE_DIR "/tests/panel_corpus")) {
        SCOPED_TRACE(entry.path().filename().string());
        std::filesystem::copy_file(entry.path(), dir_ + "/railmon-ctrl.uir",
                                   std::filesystem::copy_options::overwrite_existing);
        HarnessOptions options;
        options.panelDir = dir_;
        options.workDir = dir_;
        const HarnessRun run = runHarness(options);
        EXPECT_EQ(run.process.signal, 0);
        EXPECT_EQ(run.process.exitCode, 255);
        EXPECT_THAT(run.calls, testing::IsEmpty()) << "the library was loaded";
        EXPECT_THAT(run.process.err, testing::HasSubstr("railmon-ctrl.uir: "));
        ++total;
        refused += run.process.exitCode == 255 && run.process.signal == 0;
    }
    EXPECT_GE(total, 20);
    std::printf("malformed panel files: %d of %d refused without a crash\n", refused, total);
}

TEST_F(Reliability, HardKillsAtRandomMomentsTearNoLineAndLoseNoTick)
{
    std::mt19937 random(20261209);
    std::uniform_int_distribution<int> moment(150, 1200); // [ms]
    const int runs = 50;
    long tornLines = 0, pageCuts = 0, partialTicks = 0, lostTicks = 0, records = 0;
    for (int i = 0; i < runs; ++i) {
        std::filesystem::remove(dir_ + "/railmon.log");
        HarnessOptions options = simulated("click:SwitchOnOffCB;click:LogToFileCB;interval:0.02;click:TimerOnOffCB");
        options.timeoutMs = moment(random);
        const HarnessRun run = runHarness(options);
        ASSERT_TRUE(run.process.timedOut);
        const LogCheck log = checkLog(dir_ + "/railmon.log");
        const long ticks = ticksReported(run);
        tornLines += log.tornLines;
        pageCuts += log.pageCuts;
        partialTicks += log.partialTicks;
        EXPECT_EQ(log.firstTorn, "") << "run " << i;
        // The kill may fall between a tick's flush and its report, so the
        // file may hold one tick more than was reported, never fewer.
        lostTicks += std::max(0L, ticks - log.records / 4);
        records += log.records;
    }
    std::printf("hard kills: %d runs, %ld records, torn lines %ld, cuts at a page boundary %ld, partial ticks %ld, "
                "lost ticks %ld\n",
                runs, records, tornLines, pageCuts, partialTicks, lostTicks);
    EXPECT_EQ(tornLines, 0);
    EXPECT_EQ(partialTicks, 0);
    EXPECT_EQ(lostTicks, 0);
}
