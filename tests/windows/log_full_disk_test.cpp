// A disk that cannot take a whole tick: run by CTest under a file size limit
// (RAILMON_FSIZE_LIMIT bytes, set with prlimit around Wine), so Wine's write
// falls short in the middle of a tick as a full disk's would.
#include "log_fixture.h"

#include <cstdlib>
#include <filesystem>

TEST_F(WindowsLog, ATickThatDoesNotFitIsCutBackToTheLastWholeOne)
{
    const char* limitText = std::getenv("RAILMON_FSIZE_LIMIT");
    if (!limitText)
        GTEST_SKIP() << "runs only under a file size limit";
    const auto limit = std::strtoull(limitText, nullptr, 10);
    tick();
    const auto oneTick = std::filesystem::file_size("railmon.log");
    ASSERT_LE(oneTick, limit);
    const auto header = std::string("#time\tch\tU\tI\tCV_CC\n").size();
    ASSERT_GT(oneTick + (oneTick - header), limit) << "the limit must fall inside the second tick";
    testing::internal::CaptureStdout();
    tick();
    tick();
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::filesystem::file_size("railmon.log"), oneTick) << "a part of a tick was left in the file";
    EXPECT_EQ(said.rfind("Cannot write " + std::filesystem::current_path().string() + "/railmon.log: ", 0), 0u) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << "said once: " << said;
    const std::vector<std::string> lines = readLines("railmon.log");
    ASSERT_EQ(lines.size(), 5u);
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_TRUE(wholeRecord(lines[i], static_cast<int>(i))) << lines[i];
}
