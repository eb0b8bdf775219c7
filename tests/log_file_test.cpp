// The measurement log among the other things on a bench PC's disk: a disk
// that fills up, names that are not files, another railmon, the previous
// run's log.
#include "log_check.h"
#include "panel_fixture.h"

#include <algorithm>
#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {
const std::string kHeader = "#time\tch\tU\tI\tCV_CC\n";
} // namespace

class LogFile : public PanelTest {
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        gMask = 15;
        gLogToFile = 1;
    }
    static void tick() { TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0); }
    // As a new run of railmon would start.
    static void restart()
    {
        LogClose();
        gFp = nullptr;
    }
};

TEST_F(LogFile, ATickReachesTheFileWholeOrNotAtAllAndTheLossIsReportedOnce)
{
    tick();
    const auto oneTick = std::filesystem::file_size("railmon.log");
    const auto tickBytes = oneTick - kHeader.size();
    // The disk fills up in the middle of the next tick's records.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit full = saved;
    full.rlim_cur = oneTick + tickBytes / 2;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    testing::internal::CaptureStdout();
    tick();
    tick();
    tick();
    const auto sizeWhileFull = std::filesystem::file_size("railmon.log");
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    tick();
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(sizeWhileFull, oneTick) << "a part of a tick was left in the file";
    EXPECT_EQ(said,
              "Cannot write railmon.log: File too large\n"
              "Writing railmon.log again: 3 ticks could not be logged\n");
    const LogCheck log = checkLog("railmon.log");
    EXPECT_TRUE(log.headerOk);
    EXPECT_EQ(log.records, 8);
    EXPECT_EQ(log.tornLines, 0) << log.firstTorn;
    EXPECT_EQ(log.partialTicks, 0);
}

TEST_F(LogFile, ALogThatCanBeOpenedOnlyInTheMiddleOfATickStartsWithTheNextTick)
{
    // railmon.log cannot be opened at the first channel's record; by the
    // second channel's it can.
    mkfifo("railmon.log", 0644);
    uiTestHooks().valueSet = [](int, int control, double) {
        if (control == vmon[1])
            std::filesystem::remove("railmon.log");
    };
    testing::internal::CaptureStdout();
    tick();
    uiTestHooks().valueSet = nullptr;
    tick();
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_THAT(said, testing::StartsWith("Cannot open railmon.log: it is a FIFO"));
    EXPECT_THAT(said, testing::HasSubstr("Writing railmon.log again: 1 tick could not be logged\n"));
    const LogCheck log = checkLog("railmon.log");
    EXPECT_TRUE(log.headerOk);
    EXPECT_EQ(log.records, 4) << readFile("railmon.log");
    EXPECT_EQ(log.partialTicks, 0);
}

TEST_F(LogFile, OnlyARegularFileIsEverOpenedAsTheLog)
{
    const std::string elsewhere = makeTempDir();
    writeFile(elsewhere + "/precious", "someone else's file\n");
    struct Case {
        const char* what;
        std::function<void()> plant;
        const char* said;
    };
    const std::vector<Case> cases = {
        {"FIFO", [] { mkfifo("railmon.log", 0644); }, "it is a FIFO"},
        {"link to a file", [&] { std::filesystem::create_symlink(elsewhere + "/precious", "railmon.log"); },
         "symbolic link"},
        {"link to a new file", [&] { std::filesystem::create_symlink(elsewhere + "/created", "railmon.log"); },
         "symbolic link"},
        {"directory", [] { std::filesystem::create_directory("railmon.log"); }, "it is a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        restart();
        std::filesystem::remove_all("railmon.log");
        c.plant();
        testing::internal::CaptureStdout();
        tick();
        tick();
        const std::string said = testing::internal::GetCapturedStdout();
        EXPECT_EQ(gFp, nullptr);
        EXPECT_THAT(said, testing::StartsWith("Cannot open railmon.log: "));
        EXPECT_THAT(said, testing::HasSubstr(c.said));
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    }
    EXPECT_EQ(readFile(elsewhere + "/precious"), "someone else's file\n");
    EXPECT_FALSE(std::filesystem::exists(elsewhere + "/created"));
    std::filesystem::remove_all(elsewhere);
}

TEST_F(LogFile, TwoRailmonNeverWriteOneLog)
{
    // Another railmon writing railmon.log in this folder, holding its lock.
    int ready[2], done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    const pid_t other = fork();
    if (other == 0) {
        const int fd = open("railmon.log", O_RDWR | O_CREAT | O_TRUNC, 0644);
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        fcntl(fd, F_SETLK, &lock);
        [[maybe_unused]] ssize_t n = write(fd, "the other run's records\n", 24);
        n = write(ready[1], "x", 1);
        char byte;
        n = read(done[0], &byte, 1);
        _exit(0);
    }
    char byte;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    testing::internal::CaptureStdout();
    tick();
    tick();
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(said,
              "Cannot open railmon.log: another railmon (process " + std::to_string(other) +
                  ") is writing it; not logging\n");
    EXPECT_EQ(readFile("railmon.log"), "the other run's records\n") << "the other run's log was touched";

    // Once the other one has gone, this one logs, keeping what it left.
    ASSERT_EQ(write(done[1], "x", 1), 1);
    waitpid(other, nullptr, 0);
    testing::internal::CaptureStdout();
    tick();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Writing railmon.log again: 2 ticks could not be logged\n");
    EXPECT_EQ(readFile("railmon.log.1"), "the other run's records\n");
    EXPECT_EQ(checkLog("railmon.log").records, 4);
}

TEST_F(LogFile, ARunKeepsThePreviousLogAsRailmonLog1AndNeverWritesThroughALink)
{
    writeFile("railmon.log", "the last run's records\n");
    const std::string elsewhere = makeTempDir();
    writeFile(elsewhere + "/precious", "someone else's file\n");
    std::filesystem::create_symlink(elsewhere + "/precious", "railmon.log.1");
    tick();
    EXPECT_EQ(readFile("railmon.log.1"), "the last run's records\n");
    EXPECT_FALSE(std::filesystem::is_symlink("railmon.log.1"));
    EXPECT_EQ(readFile(elsewhere + "/precious"), "someone else's file\n");
    EXPECT_EQ(checkLog("railmon.log").records, 4);

    // A restart and a click on Log: this run's log becomes the previous one.
    const std::string thisRun = readFile("railmon.log");
    restart();
    tick();
    EXPECT_EQ(readFile("railmon.log.1"), thisRun);
    EXPECT_EQ(checkLog("railmon.log").records, 4);
    std::filesystem::remove_all(elsewhere);
}
