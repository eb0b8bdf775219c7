// The measurement log among the other things on a bench PC's disk: a disk
// that fills up, names that are not files, another railmon, the previous
// run's log.
#include "log_check.h"
#include "panel_fixture.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
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
    // As the log's lines name it: where it is.
    static std::string logPath() { return std::filesystem::current_path().string() + "/railmon.log"; }
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
              "Cannot write " + logPath() +
                  ": File too large\n"
                  "Writing " +
                  logPath() + " again: 3 ticks could not be logged\n");
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
    EXPECT_THAT(said, testing::StartsWith("Cannot open " + logPath() + ": it is a FIFO"));
    EXPECT_THAT(said, testing::HasSubstr("Writing " + logPath() + " again: 1 tick could not be logged\n"));
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
        // A second name of someone else's file, which a link() in a shared
        // folder plants as easily as a symbolic link.
        {"hard link", [&] { std::filesystem::create_hard_link(elsewhere + "/precious", "railmon.log"); },
         "it has 2 names"},
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
        EXPECT_THAT(said, testing::StartsWith("Cannot open " + logPath() + ": "));
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
        const int lock = open("railmon.log.lock", O_RDWR | O_CREAT, 0644);
        flock(lock, LOCK_EX);
        const int fd = open("railmon.log", O_RDWR | O_CREAT | O_TRUNC, 0644);
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
              "Cannot open " + logPath() + ": another railmon (process " + std::to_string(other) +
                  ") is writing it; not logging\n");
    EXPECT_EQ(readFile("railmon.log"), "the other run's records\n") << "the other run's log was touched";

    // Once the other one has gone, this one logs, keeping what it left.
    ASSERT_EQ(write(done[1], "x", 1), 1);
    waitpid(other, nullptr, 0);
    testing::internal::CaptureStdout();
    tick();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Writing " + logPath() + " again: 2 ticks could not be logged\n");
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

TEST_F(LogFile, ThePreviousLogKeepsItsOwnerOnlyModeAndIsKeptByRenamingNotCopying)
{
    writeFile("railmon.log", "the last run's private records\n");
    chmod("railmon.log", 0600);
    struct stat before = {};
    stat("railmon.log", &before);
    tick();
    struct stat kept = {}, log = {};
    stat("railmon.log.1", &kept);
    stat("railmon.log", &log);
    EXPECT_EQ(kept.st_mode & 07777, 0600u) << "a private log made readable by all";
    EXPECT_EQ(log.st_mode & 07777, 0600u) << "this run's log as private as the last";
    EXPECT_EQ(kept.st_ino, before.st_ino) << "copied, at a cost that grows with the file, instead of renamed";
    EXPECT_EQ(readFile("railmon.log.1"), "the last run's private records\n");
    EXPECT_EQ(checkLog("railmon.log").records, 4);
}

TEST_F(LogFile, APreviousLogThatCannotBeKeptIsTriedOncePerSwitchingOn)
{
    writeFile("railmon.log", "the last run's records\n");
    // railmon.log.1 cannot be replaced: a directory with something in it.
    std::filesystem::create_directories("railmon.log.1/held");
    testing::internal::CaptureStdout();
    for (int i = 0; i < 3; ++i)
        tick();
    std::filesystem::remove_all("railmon.log.1");
    tick(); // no new attempt until the operator switches logging on again
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(said.rfind("Cannot open " + logPath() + ": cannot keep its previous content as railmon.log.1: ", 0), 0u)
        << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_EQ(readFile("railmon.log"), "the last run's records\n");
    EXPECT_FALSE(std::filesystem::exists("railmon.log.1"));

    LogSwitchedOn();
    tick();
    EXPECT_EQ(readFile("railmon.log.1"), "the last run's records\n");
    EXPECT_EQ(checkLog("railmon.log").records, 4);
}

TEST_F(LogFile, ALogDeletedRotatedOrCutUnderRailmonIsNoticedAndLoggingGoesOn)
{
    tick();
    // Deleted: noticed before the next tick goes into the deleted file.
    std::filesystem::remove("railmon.log");
    testing::internal::CaptureStdout();
    tick();
    std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(said, logPath() + " was deleted while railmon wrote it: a new one is started\n");
    EXPECT_THAT(statusText(PANEL_STATUS_LOG), testing::HasSubstr("was deleted"));
    LogCheck log = checkLog("railmon.log");
    EXPECT_TRUE(log.headerOk);
    EXPECT_EQ(log.records, 4);

    // Renamed away, as logrotate does: the next ticks go to a new
    // railmon.log, the rotated file keeps what it had.
    std::filesystem::rename("railmon.log", "railmon.log.rotated");
    std::this_thread::sleep_for(std::chrono::milliseconds(1100)); // the name is looked at once a second
    testing::internal::CaptureStdout();
    tick();
    said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(said, logPath() + " was renamed or replaced (rotated): a new one is started\n");
    EXPECT_EQ(checkLog("railmon.log.rotated").records, 4);
    log = checkLog("railmon.log");
    EXPECT_TRUE(log.headerOk);
    EXPECT_EQ(log.records, 4);

    // Cut to nothing, as logrotate's copytruncate does: the next tick goes
    // at the file's real end, after a header, never after a hole of NULs.
    ASSERT_EQ(truncate("railmon.log", 0), 0);
    testing::internal::CaptureStdout();
    tick();
    said = testing::internal::GetCapturedStdout();
    EXPECT_THAT(said, testing::HasSubstr("was cut to 0 bytes"));
    const std::string text = readFile("railmon.log");
    EXPECT_EQ(text.find('\0'), std::string::npos);
    EXPECT_EQ(text.rfind(kHeader, 0), 0u) << text;
    EXPECT_EQ(checkLog("railmon.log").records, 4);
}

TEST_F(LogFile, ALogWhoseDirectoryIsDeletedIsSaidInRed)
{
    const std::string gone = std::filesystem::current_path().string() + "/gone";
    std::filesystem::create_directory(gone);
    std::filesystem::current_path(gone);
    tick();
    std::filesystem::remove_all(gone);
    testing::internal::CaptureStdout();
    tick();
    tick();
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_THAT(said,
                testing::StartsWith(gone +
                                    "/railmon.log was deleted while railmon wrote it: no new one can be "
                                    "started\n"));
    EXPECT_THAT(statusText(PANEL_STATUS_LOG), testing::StartsWith("Log: Cannot open"));
    EXPECT_EQ(statusColour(PANEL_STATUS_LOG), VAL_ERROR_COLOR);
    std::filesystem::current_path(workDirectory());
}
