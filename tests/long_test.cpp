// Long runs: hard kills at random moments and a soak. CTest label "long".
#include "log_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

class LongRun : public OnSimulatedSupplyRun { };

namespace {
// Under AddressSanitizer a tick costs several times as much and freed memory
// is held in quarantine on purpose, so resident memory says nothing there:
// the sanitized soak is shorter and checks the log alone.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
} // namespace

TEST_F(LongRun, HardKillsAtRandomMomentsTearNoLineAndLoseNoTick)
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

TEST_F(LongRun, SoakLogsEveryTickAndHoldsItsMemory)
{
    // The runtime's fastest pace (1 ms), fifty times what the interval control
    // offers, so days of logging fit in minutes.
    const long ticks = kSanitized ? 20000 : 120000, every = ticks / 20;
    HarnessOptions options = simulated("click:SwitchOnOffCB;click:LogToFileCB;interval:0.001;click:TimerOnOffCB");
    options.env["RAILMON_REPORT_TICKS"] = "0";
    options.env["RAILMON_EXIT_AFTER_TICKS"] = std::to_string(ticks);
    options.env["RAILMON_REPORT_RSS_EVERY"] = std::to_string(every);
    options.timeoutMs = 1800 * 1000;
    const auto start = std::chrono::steady_clock::now();
    const HarnessRun run = runHarness(options);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_FALSE(run.process.timedOut);
    EXPECT_EQ(run.process.exitCode, 0) << run.process.err;

    long done = 0;
    std::vector<long> rss; // [kB] every `every` ticks
    for (const std::string& line : run.stdoutLines) {
        long at = 0, kb = 0;
        if (std::sscanf(line.c_str(), "RSS %ld %ld", &at, &kb) == 2)
            rss.push_back(kb);
        std::sscanf(line.c_str(), "TICKS %ld", &done);
    }
    ASSERT_GE(done, ticks);
    const LogCheck log = checkLog(dir_ + "/railmon.log");
    EXPECT_TRUE(log.headerOk);
    EXPECT_EQ(log.tornLines, 0);
    EXPECT_EQ(log.records, 4 * done) << "every tick's four records, no more, no fewer";

    // Flat after warm-up: the warm reading is the first one after the charts
    // hold their most points (the shipped panel's maxPointsPerTrace, 72,000
    // per trace, an hour at the panel's fastest interval) and have compacted
    // once; an hour of history is far longer than the soak.
    const long fullAfter = 72000 + 72000 / 8; // [ticks]
    const std::size_t warmAt = kSanitized ? 0 : std::size_t(fullAfter / every + 1);
    ASSERT_GE(rss.size(), warmAt + 5);
    const long warm = rss[warmAt], last = rss.back();
    const long peak = *std::max_element(rss.begin() + long(warmAt), rss.end());
    std::printf("soak: %ld ticks in %.0f s, %ld records, RSS %ld kB after %ld ticks, %ld kB at the end, peak %ld kB\n",
                done, seconds, log.records, warm, every * long(warmAt + 1), last, peak);
    if (!kSanitized) {
        EXPECT_LE(peak - warm, 2048) << "resident memory grew by more than 2 MiB";
    }
}
