// railmon.prom at railmon's end, in-process: a file that can no longer say
// that railmon has stopped must not go on saying that it runs.
#include "metrics_export.h"
#include "panel_fixture.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include <sys/resource.h>

TEST_F(PanelTest, AnExportThatCannotBeRewrittenAtTheEndIsRemoved)
{
    const std::string file = workDir_ + "/railmon.prom";
    setenv("RAILMON_METRICS_DIR", workDir_.c_str(), 1);
    MetricsOpen();
    // What a running railmon exports, written beside the loop.
    const std::string running = "# TYPE railmon_ticks_total";
    for (int i = 0; i < 100 && readFile(file).find(running) == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_THAT(readFile(file), testing::HasSubstr(running));
    // The disk is full by the time railmon stops.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit full = saved;
    full.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    testing::internal::CaptureStdout();
    MetricsClose();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    unsetenv("RAILMON_METRICS_DIR");
    EXPECT_THAT(testing::internal::GetCapturedStdout(), testing::EndsWith("; removed it\n"));
    EXPECT_FALSE(std::filesystem::exists(file)) << readFile(file);
}
