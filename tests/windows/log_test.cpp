// The measurement log on Windows: the previous run kept as railmon.log.1,
// binary records in whole ticks, only a plain file opened, one writer.
#include "log_fixture.h"

#include <filesystem>

TEST_F(WindowsLog, ThePreviousRunIsKeptAndTheRecordsAreBinaryWholeTicks)
{
    writeFile("railmon.log", "previous run\r\n");
    writeFile("railmon.log.1", "older run\n");
    tick();
    tick();
    LogClose();
    EXPECT_EQ(readFile("railmon.log.1"), "previous run\r\n") << "kept byte for byte, replacing the older one";
    const std::string log = readFile("railmon.log");
    EXPECT_EQ(log.find('\r'), std::string::npos) << "records end in \\n alone";
    const std::vector<std::string> lines = readLines("railmon.log");
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "#time\tch\tU\tI\tCV_CC");
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_TRUE(wholeRecord(lines[i], static_cast<int>((i - 1) % 4) + 1)) << lines[i];
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        files += entry.path().filename().string().rfind("railmon.log", 0) == 0;
    EXPECT_EQ(files, 3) << "no temporary file is left behind, only the log, the previous one and their lock";
}

TEST_F(WindowsLog, OnlyAPlainFileIsOpenedAsTheLog)
{
    CreateDirectoryA("railmon.log", nullptr);
    testing::internal::CaptureStdout();
    tick();
    tick();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Cannot open " + std::filesystem::current_path().string() +
                  "/railmon.log: it is a directory, not a regular file; "
                  "not logging\n");
    EXPECT_EQ(gFp, nullptr);
    RemoveDirectoryA("railmon.log");
}

TEST_F(WindowsLog, ASecondRailmonDoesNotWriteTheLogThisOneHolds)
{
    tick();
    const std::string before = readFile("railmon.log");
    const ProbeRun second = runProbe(root_, "", "logtick", work_);
    EXPECT_EQ(second.run.exitCode, 0) << second.run.err;
    EXPECT_NE(second.run.out.find("/railmon.log: another railmon is writing it; not logging"), std::string::npos)
        << second.run.out;
    EXPECT_EQ(readFile("railmon.log"), before);
    EXPECT_EQ(readFile("railmon.log.1"), "") << "nor did it touch the previous run's";
}
