// railmon's readings for a lab's Prometheus: the exposition file it keeps
// for node_exporter's textfile collector, checked by Prometheus's own
// parser, and the whole road through a real node_exporter and a real
// Prometheus, both started here on loopback ports of their own.
#include "fake_answers.h"
#include "harness_run.h"
#include "service.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <string>
#include <thread>

using testing::HasSubstr;
using testing::Not;

namespace {

class Metrics : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = makeTempDir();
        metricsDir_ = dir_ + "/textfile";
        std::filesystem::create_directory(metricsDir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // railmon ticking on the recording fake, exporting, until `done` exists.
    std::future<HarnessRun> startRailmon(const EnvChanges& env = {})
    {
        HarnessOptions options;
        options.workDir = dir_;
        options.env = env;
        options.env["RAILMON_METRICS_DIR"] = metricsDir_;
        options.script = "interval:0.05;click:PANEL_TIMERONOFF;click:PANEL_LOGTOFILE;until:" + done() +
            ";text:PANEL_STATUS_EXPORT;click:ExitCB";
        return std::async(std::launch::async, [options] { return runHarness(options); });
    }
    std::string done() const { return dir_ + "/done"; }
    std::string exportFile() const { return metricsDir_ + "/railmon.prom"; }

    // Waits, at most `seconds`, until `ready` holds.
    template <typename Ready>
    static bool waitFor(Ready ready, int seconds)
    {
        for (int i = 0; i < seconds * 10; ++i) {
            if (ready())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    std::string dir_, metricsDir_;
};

std::string sample(const char* name, const char* channel, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", value);
    return std::string(name) + "{channel=\"" + channel + "\",model=\"FAKE PW-A\"} " + text + "\n";
}

} // namespace

TEST_F(Metrics, TheExportParsesCarriesWhatTheSupplyGaveAndSaysWhenRailmonHasStopped)
{
    auto running = startRailmon();
    ASSERT_TRUE(waitFor([&] { return readFile(exportFile()).find("railmon_ticks_total") != std::string::npos; }, 20));
    std::this_thread::sleep_for(std::chrono::milliseconds(1200)); // past the first second's write
    const std::string text = readFile(exportFile());
    writeFile(done(), "");
    const HarnessRun run = running.get();

    writeFile(dir_ + "/check.prom", text);
    const ProcessResult promtool =
        runProcess({"/bin/sh", "-c", "/usr/bin/promtool check metrics < " + dir_ + "/check.prom"}, {});
    EXPECT_EQ(promtool.exitCode, 0) << promtool.out << promtool.err << text;
    EXPECT_EQ(promtool.out + promtool.err, "") << "promtool found something to lint";

    EXPECT_THAT(text, HasSubstr("railmon_up{model=\"FAKE PW-A\"} 1\n"));
    EXPECT_THAT(text, HasSubstr(sample("railmon_voltage_volts", "CH +18V", fakeMoniVolts(1))));
    EXPECT_THAT(text, HasSubstr(sample("railmon_current_amperes", "CH -6V", fakeMoniAmps(4))));
    EXPECT_THAT(text, HasSubstr(sample("railmon_cvcc_code", "CH -18V", 1)));
    EXPECT_THAT(text, HasSubstr(sample("railmon_voltage_setpoint_volts", "CH -18V", fakeVoltage(2, 2))));
    EXPECT_THAT(text, HasSubstr(sample("railmon_current_setpoint_amperes", "CH +6V", fakeCurrent(3, 2))));
    EXPECT_THAT(text, HasSubstr(sample("railmon_channel_enabled", "CH +6V", 1)));
    EXPECT_THAT(text, HasSubstr("railmon_main_output_state{model=\"FAKE PW-A\"} 1\n"));
    EXPECT_THAT(text, HasSubstr("# TYPE railmon_ticks_total counter\n"));
    EXPECT_THAT(text, HasSubstr("railmon_last_reading_timestamp_seconds{channel=\"CH +18V\""));
    EXPECT_EQ(std::filesystem::status(exportFile()).permissions() & std::filesystem::perms::others_read,
              std::filesystem::perms::others_read)
        << "node_exporter's user cannot read it";

    EXPECT_EQ(run.process.exitCode, 0);
    EXPECT_THAT(run.stdoutLines, testing::Contains("TEXT PANEL_STATUS_EXPORT Metrics to " + exportFile()));
    const std::string after = readFile(exportFile());
    EXPECT_THAT(after, HasSubstr("railmon_up{model=\"FAKE PW-A\"} 0\n"));
    EXPECT_THAT(after, Not(HasSubstr("railmon_voltage_volts"))) << "values that are no longer kept up to date";
    for (const auto& entry : std::filesystem::directory_iterator(metricsDir_))
        EXPECT_EQ(entry.path().filename(), "railmon.prom") << "a temporary file was left behind";
}

TEST_F(Metrics, ADirectoryThatCannotBeWrittenIsReportedAndStopsNeitherTimerNorLog)
{
    std::filesystem::remove_all(metricsDir_);
    writeFile(metricsDir_, "a file where the directory should be\n");
    HarnessOptions options;
    options.workDir = dir_;
    options.env = {{"RAILMON_METRICS_DIR", metricsDir_}, {"RAILMON_REPORT_TICKS", "1"}};
    options.script = "interval:0.05;click:PANEL_TIMERONOFF;click:PANEL_LOGTOFILE;wait:2500;"
                     "text:PANEL_STATUS_EXPORT;click:ExitCB";
    const HarnessRun run = runHarness(options);
    EXPECT_EQ(run.process.exitCode, 0);
    const std::string said = "Cannot write " + exportFile() + ": Not a directory";
    EXPECT_EQ(std::count(run.stdoutLines.begin(), run.stdoutLines.end(), said), 1) << "once while running";
    EXPECT_THAT(run.stdoutLines, testing::Contains(said + "; cannot remove it either")) << "and at exit";
    EXPECT_THAT(run.stdoutLines,
                testing::Contains("TEXT PANEL_STATUS_EXPORT Metrics: cannot write " + exportFile() +
                                  ": Not a directory"));
    const long ticks = std::count(run.stdoutLines.begin(), run.stdoutLines.end(), "TICK");
    EXPECT_GT(ticks, 20);
    const auto records = linesOf(readFile(dir_ + "/railmon.log")).size() - 1;
    EXPECT_EQ(records, static_cast<size_t>(4 * ticks));
}

TEST_F(Metrics, NodeExporterServesTheReadingsAndPrometheusAnswersAQueryForThem)
{
    const int exporterPort = freeLoopbackPort(), prometheusPort = freeLoopbackPort();
    ASSERT_GT(exporterPort, 0);
    ASSERT_NE(exporterPort, prometheusPort);
    const std::string exporterAddress = "127.0.0.1:" + std::to_string(exporterPort);
    const std::string prometheusAddress = "127.0.0.1:" + std::to_string(prometheusPort);
    Service exporter({"/usr/bin/prometheus-node-exporter", "--web.listen-address=" + exporterAddress,
                      "--collector.disable-defaults", "--collector.textfile",
                      "--collector.textfile.directory=" + metricsDir_},
                     dir_ + "/node_exporter.log");
    writeFile(dir_ + "/prometheus.yml",
              "global:\n  scrape_interval: 1s\n"
              "scrape_configs:\n  - job_name: bench\n    static_configs:\n"
              "      - targets: ['" +
                  exporterAddress + "']\n");
    Service prometheus({"/usr/bin/prometheus", "--config.file=" + dir_ + "/prometheus.yml",
                        "--storage.tsdb.path=" + dir_ + "/tsdb", "--web.listen-address=" + prometheusAddress},
                       dir_ + "/prometheus.log");
    auto running = startRailmon();

    std::string metrics;
    const std::string wanted = "railmon_voltage_volts{channel=\"CH +18V\",model=\"FAKE PW-A\"} 1.25";
    EXPECT_TRUE(waitFor(
        [&] {
            metrics = httpGet("http://" + exporterAddress + "/metrics");
            return metrics.find(wanted) != std::string::npos;
        },
        20))
        << readFile(dir_ + "/node_exporter.log");

    std::string answer;
    const std::string query =
        "http://" + prometheusAddress + "/api/v1/query?query=railmon_voltage_volts%7Bchannel%3D%22CH%20%2B18V%22%7D";
    EXPECT_TRUE(waitFor(
        [&] {
            answer = httpGet(query);
            return answer.find("\"1.25\"") != std::string::npos;
        },
        40))
        << answer << readFile(dir_ + "/prometheus.log");
    EXPECT_THAT(answer, HasSubstr("\"status\":\"success\""));
    EXPECT_THAT(answer, HasSubstr("\"job\":\"bench\""));
    writeFile(dir_ + "/prometheus-answer.json", answer);
    writeFile(done(), "");
    EXPECT_EQ(running.get().process.exitCode, 0);
}

TEST_F(Metrics, TheExportStaysValidWhateverTheLibraryWritesAsItsNameOrDoesToTheLocale)
{
    const std::string locales = makeGermanLocale(dir_);
    ASSERT_FALSE(locales.empty()) << "localedef (Debian's locales) failed";
    auto running = startRailmon(
        {{"TMI_FAKE_MODEL_HEX", kHostileModelHex}, {"TMI_FAKE_SETLOCALE", "de_DE.UTF-8"}, {"LOCPATH", locales}});
    ASSERT_TRUE(waitFor([&] { return readFile(exportFile()).find("railmon_ticks_total") != std::string::npos; }, 20));
    std::this_thread::sleep_for(std::chrono::milliseconds(1200)); // past the first second's write
    const std::string text = readFile(exportFile());
    writeFile(done(), "");
    EXPECT_EQ(running.get().process.exitCode, 0);
    writeFile(dir_ + "/check.prom", text);
    const ProcessResult promtool =
        runProcess({"/bin/sh", "-c", "/usr/bin/promtool check metrics < " + dir_ + "/check.prom"}, {});
    EXPECT_EQ(promtool.exitCode, 0) << promtool.out << promtool.err << text;
    std::string line;
    for (const std::string& l : linesOf(text))
        if (l.rfind("railmon_voltage_volts{channel=\"CH +18V\"", 0) == 0)
            line = l;
    EXPECT_THAT(line, testing::EndsWith("} 1.25")) << "a number written with the library's decimal comma";
}
