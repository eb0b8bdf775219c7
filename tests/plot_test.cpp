// railmon-plot on logs made here: normal ones, torn, with nan gaps, CC
// periods, glued records, a clock set back, a million records, and files that
// are not logs. The pictures are checked by format, size and a few pixels
// where a trace or a shade must be.
#include "process.h"
#include "test_paths.h"

#include <QColor>
#include <QDateTime>
#include <QImage>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include <sys/stat.h>

using testing::HasSubstr;

namespace {

const std::string kPlot = std::string(RAILMON_BIN_DIR) + "/railmon-plot";
const std::string kHeader = "#time\tch\tU\tI\tCV_CC\n";
constexpr long long kStart = 1796791200; // 2026-12-09, a whole hour
const QColor kRed(200, 30, 30), kGreen(20, 150, 60), kOrange(160, 90, 10), kBlue(30, 90, 200);
const double kVolts[4] = {12.0, -12.0, 5.0, -5.0};

// A log of `seconds` one-second ticks of four channels; `record` may change
// a record's text (returning "" drops it).
std::string makeLog(int seconds, std::function<std::string(int tick, int ch, std::string)> record = {})
{
    std::string log = kHeader;
    char line[128];
    for (int t = 0; t < seconds; ++t) {
        for (int ch = 1; ch <= 4; ++ch) {
            std::snprintf(line, sizeof line, "%lld\t%d\t%g\t%g\t%d\n", kStart + t, ch, kVolts[ch - 1], 0.1 * ch, 0);
            log += record ? record(t, ch, line) : std::string(line);
        }
    }
    return log;
}

class Plot : public testing::Test {
protected:
    void SetUp() override { dir_ = makeTempDir(); }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    ProcessResult plot(const std::string& log, std::vector<std::string> args)
    {
        writeFile(dir_ + "/railmon.log", log);
        args.insert(args.begin(), {kPlot, dir_ + "/railmon.log"});
        return run(args);
    }
    // As from an operator's session, which has a runtime directory.
    ProcessResult run(const std::vector<std::string>& args) const
    {
        return runProcess(args, {{"XDG_RUNTIME_DIR", dir_}}, 60000);
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    // The rows of the picture's column band [x0, x1] holding this colour.
    static std::vector<int> rowsWith(const QImage& image, int x0, int x1, const QColor& colour, int tolerance = 0)
    {
        std::vector<int> rows;
        for (int y = 0; y < image.height(); ++y)
            for (int x = x0; x <= x1; ++x) {
                const QColor c = image.pixelColor(x, y);
                if (std::abs(c.red() - colour.red()) <= tolerance &&
                    std::abs(c.green() - colour.green()) <= tolerance &&
                    std::abs(c.blue() - colour.blue()) <= tolerance) {
                    rows.push_back(y);
                    break;
                }
            }
        return rows;
    }

    std::string dir_;
};

} // namespace

TEST_F(Plot, ALogBecomesPngSvgAndPdfWithEachTraceAtItsValueAndASummary)
{
    const std::string log = makeLog(600);
    for (const char* name : {"rail.png", "rail.svg", "rail.pdf"}) {
        SCOPED_TRACE(name);
        const ProcessResult run = plot(log, {"-o", path(name), "--size", "1000x700"});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_THAT(run.err, testing::Not(HasSubstr("railmon-plot:")));
    }
    const QImage image(QString::fromStdString(path("rail.png")));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(1000, 700));
    // Voltage above current; in the voltage plot 12 V above 5 V above -5 V above -12 V.
    const int middle = image.width() / 2;
    const auto red = rowsWith(image, middle - 20, middle + 20, kRed);
    const auto green = rowsWith(image, middle - 20, middle + 20, kGreen);
    const auto orange = rowsWith(image, middle - 20, middle + 20, kOrange);
    const auto blue = rowsWith(image, middle - 20, middle + 20, kBlue);
    ASSERT_FALSE(red.empty() || green.empty() || orange.empty() || blue.empty());
    EXPECT_LT(red.front(), green.front());
    EXPECT_LT(green.front(), orange.front());
    EXPECT_LT(orange.front(), blue.front());
    EXPECT_LT(blue.front(), image.height() / 2) << "the voltages are not in the upper half";
    EXPECT_GT(red.back(), image.height() / 2) << "no current trace in the lower half";

    EXPECT_THAT(readFile(path("rail.svg")), testing::AllOf(testing::StartsWith("<?xml"), HasSubstr("<svg")));
    EXPECT_THAT(readFile(path("rail.pdf")), testing::StartsWith("%PDF-"));

    const ProcessResult summary = plot(log, {"--summary"});
    EXPECT_EQ(summary.exitCode, 0) << summary.err;
    EXPECT_THAT(linesOf(summary.out),
                testing::ElementsAre("channel\trecords\tU min\tU mean\tU max\tI min\tI mean\tI max\tCC [s]",
                                     "CH +18V\t600\t12\t12\t12\t0.1\t0.1\t0.1\t0.0",
                                     "CH -18V\t600\t-12\t-12\t-12\t0.2\t0.2\t0.2\t0.0",
                                     "CH +6V\t600\t5\t5\t5\t0.3\t0.3\t0.3\t0.0",
                                     "CH -6V\t600\t-5\t-5\t-5\t0.4\t0.4\t0.4\t0.0"));
}

TEST_F(Plot, NanReadingsAndMissingTicksAreGapsAndCcStretchesAreShadedAndTimed)
{
    // CH +18V gives no reading in the middle fifth; CH -18V misses ticks in
    // the fourth fifth; CH +6V is in CC (code 1, as the panel file labels it)
    // in the second fifth.
    const std::string log = makeLog(1000, [](int t, int ch, std::string line) {
        char text[128];
        if (ch == 1 && t >= 400 && t < 600) {
            std::snprintf(text, sizeof text, "%lld\t1\tnan\tnan\t-128\n", kStart + t);
            return std::string(text);
        }
        if (ch == 2 && t >= 600 && t < 800)
            return std::string();
        if (ch == 3 && t >= 200 && t < 400)
            line.replace(line.size() - 2, 1, "1");
        return line;
    });
    const ProcessResult run = plot(log, {"-o", path("gaps.png"), "--size", "1000x700", "--summary"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("CH +18V\t1000\t12\t12\t12\t0.1\t0.1\t0.1\t0.0"));
    EXPECT_THAT(run.out, HasSubstr("CH -18V\t800\t"));
    EXPECT_THAT(run.out, HasSubstr("\t200.0\n")) << "CH +6V's time in CC";

    const QImage image(QString::fromStdString(path("gaps.png")));
    ASSERT_FALSE(image.isNull());
    // The plot spans most of the width: look well inside each fifth.
    const double left = 0.06 * image.width(), right = 0.9 * image.width();
    auto column = [&](double share) { return int(left + share * (right - left)); };
    EXPECT_FALSE(rowsWith(image, column(0.1) - 5, column(0.1) + 5, kRed).empty());
    EXPECT_TRUE(rowsWith(image, column(0.5) - 5, column(0.5) + 5, kRed).empty()) << "nan drawn as a line";
    EXPECT_FALSE(rowsWith(image, column(0.9) - 5, column(0.9) + 5, kRed).empty());
    EXPECT_TRUE(rowsWith(image, column(0.7) - 5, column(0.7) + 5, kBlue).empty()) << "missing ticks bridged";
    // CH +6V's green shade, over the white of the plot, in the second fifth only.
    const QColor shade(214, 236, 221);
    EXPECT_GT(rowsWith(image, column(0.3), column(0.3), shade, 4).size(), 200u);
    EXPECT_LT(rowsWith(image, column(0.7), column(0.7), shade, 4).size(), 20u);

    // --cc-code overrides the panel file: now the other records count.
    const ProcessResult other = plot(log, {"--summary", "--cc-code", "0"});
    EXPECT_THAT(other.out, HasSubstr("CH +6V\t1000\t5\t5\t5\t0.3\t0.3\t0.3\t800.0"));
}

TEST_F(Plot, ReadsWhatRailmonLeavesTornCrlfGluedAndSteppedBackAndSelectsATimeRange)
{
    std::string log = makeLog(100, [](int t, int ch, std::string line) {
        if (t == 30 && ch == 2)
            return line.substr(0, 14); // an older railmon's write cut on a full disk...
        if (t == 50)                   // ...and a clock set back by 40 s
            line.replace(0, 10, std::to_string(kStart + t - 40));
        return line;
    });
    for (std::size_t at = 0; (at = log.find('\n', at)) != std::string::npos; at += 2)
        log.replace(at, 1, "\r\n");
    log += std::to_string(kStart + 100) + "\t1\t12.0"; // cut by a crash
    const ProcessResult run = plot(log, {"--summary", "-o", path("torn.png")});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto warnings = linesOf(run.err);
    const std::string name = "railmon-plot: " + dir_ + "/railmon.log";
    // The header, 30 ticks of four, tick 30's first record: the glued line is 123.
    EXPECT_THAT(warnings, testing::Contains(testing::StartsWith(name + ":123: ")));
    EXPECT_THAT(warnings, testing::Contains(name + ":401: the last line is cut off (no line end); skipped"));
    EXPECT_EQ(std::count_if(warnings.begin(), warnings.end(),
                            [&](const std::string& w) { return w.find(name + ":") != std::string::npos; }),
              2);
    EXPECT_THAT(run.out, HasSubstr("CH +18V\t100\t12\t12\t12\t"));
    EXPECT_THAT(run.out, HasSubstr("CH -18V\t99\t")) << "the glued line holds two records";
    EXPECT_FALSE(QImage(QString::fromStdString(path("torn.png"))).isNull());

    // Ten seconds by ISO 8601 local time, ten by seconds since the epoch.
    const QString from = QDateTime::fromSecsSinceEpoch(kStart + 60).toString(Qt::ISODate);
    const ProcessResult iso =
        plot(makeLog(100), {"--summary", "--from", from.toStdString(), "--to", std::to_string(kStart + 69)});
    EXPECT_EQ(iso.exitCode, 0) << iso.err;
    EXPECT_THAT(iso.out, HasSubstr("CH +6V\t10\t"));
}

TEST_F(Plot, WhatIsNotALogIsRefusedWithOneLineNamingFileLineAndWhat)
{
    struct Case {
        const char* what;
        std::string text;
        const char* line;
        const char* cause;
    };
    std::string binary;
    for (int i = 0; i < 600; ++i)
        binary += char(i * 37);
    const std::vector<Case> cases = {
        {"empty", "", ":1: ", "empty"},
        {"text", "Dear operator,\nthe supply is fine.\n", ":1: ", "header"},
        {"binary", binary, ":1: ", "not a railmon log"},
        {"a foreign line", kHeader + "1796791200\t1\t12\t0.1\t0\nlogging paused by Bob\n",
         ":3: ", "not a railmon log record"},
        {"an empty line", kHeader + "\n1796791200\t1\t12\t0.1\t0\n", ":2: ", "empty line"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ProcessResult run = plot(c.text, {"-o", path("x.png")});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(linesOf(run.err).size(), 1u) << run.err;
        EXPECT_THAT(run.err, HasSubstr(dir_ + "/railmon.log" + c.line));
        EXPECT_THAT(run.err, HasSubstr(c.cause));
        EXPECT_FALSE(std::filesystem::exists(path("x.png")));
    }
    const ProcessResult missing = run({kPlot, path("absent.log"), "--summary"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_THAT(missing.err, HasSubstr("absent.log: cannot open"));
    const ProcessResult wrongName = plot(makeLog(2), {"-o", path("rail.jpg")});
    EXPECT_EQ(wrongName.exitCode, 2);
}

TEST_F(Plot, AMillionRecordsMakeAPicture)
{
    // Figures (time, memory) come from bench/, not from here.
    std::string log = kHeader;
    log.reserve(45u << 20);
    char line[128];
    for (int t = 0; t < 250000; ++t)
        for (int ch = 1; ch <= 4; ++ch) {
            std::snprintf(line, sizeof line, "%lld\t%d\t%g\t%g\t%d\n", kStart + t / 20, ch,
                          kVolts[ch - 1] + (t % 7) * 1e-3, 0.1 * ch, t % 500 < 100 ? 1 : 0);
            log += line;
        }
    const ProcessResult run = plot(log, {"-o", path("million.png"), "--summary"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("CH -6V\t250000\t"));
    const QImage image(QString::fromStdString(path("million.png")));
    EXPECT_EQ(image.size(), QSize(1600, 900));
}

TEST_F(Plot, ALongLogKeepsItsOneSampleSpikesAndGapsAndWhatIsNoFileIsRefusedAtOnce)
{
    // 100,000 ticks at 50 ms (5,000 s), so each pixel column stands for about
    // a hundred readings of a channel: CH +18V jumps to 20 V for one reading
    // at a fifth and drops to -20 V for one at four fifths; CH -18V misses
    // 300 s of ticks at two fifths; CH +6V reads nan for 300 s at three.
    constexpr int kTicks = 100000, kMissing = 6000; // [ticks of 50 ms]
    std::string log = kHeader;
    log.reserve(std::size_t(kTicks) * 4 * 32);
    char line[128];
    for (int t = 0; t < kTicks; ++t)
        for (int ch = 1; ch <= 4; ++ch) {
            double volts = kVolts[ch - 1] + (t % 7) * 1e-3;
            // Neither a bucket's first reading nor its last.
            if (ch == 1 && (t == kTicks / 5 + 7 || t == kTicks * 4 / 5 + 13))
                volts = t < kTicks / 2 ? 20.0 : -20.0;
            if (ch == 2 && t >= kTicks * 2 / 5 - kMissing / 2 && t < kTicks * 2 / 5 + kMissing / 2)
                continue;
            const bool nan = ch == 3 && t >= kTicks * 3 / 5 - kMissing / 2 && t < kTicks * 3 / 5 + kMissing / 2;
            if (nan)
                std::snprintf(line, sizeof line, "%lld\t%d\tnan\tnan\t-128\n", kStart + t / 20, ch);
            else
                std::snprintf(line, sizeof line, "%lld\t%d\t%g\t%g\t0\n", kStart + t / 20, ch, volts, 0.1 * ch);
            log += line;
        }
    const ProcessResult drawn = plot(log, {"-o", path("long.png"), "--size", "1000x700", "--summary"});
    ASSERT_EQ(drawn.exitCode, 0) << drawn.err;
    EXPECT_THAT(drawn.out, HasSubstr("CH +18V\t100000\t-20\t"));
    const QImage image(QString::fromStdString(path("long.png")));
    ASSERT_FALSE(image.isNull());
    const double left = 0.06 * image.width(), right = 0.9 * image.width();
    auto column = [&](double share) { return int(left + share * (right - left)); };
    const int half = image.height() / 2;
    auto upper = [&](std::vector<int> rows) {
        rows.erase(std::remove_if(rows.begin(), rows.end(), [&](int y) { return y > half; }), rows.end());
        return rows;
    };
    // The spikes' readings span the voltage axis: one reading far above
    // and one far below every other line.
    const auto steady = upper(rowsWith(image, column(0.5) - 5, column(0.5) + 5, kRed));
    const auto lowest = upper(rowsWith(image, column(0.5) - 5, column(0.5) + 5, kBlue));
    const auto rise = upper(rowsWith(image, column(0.2) - 30, column(0.2) + 30, kRed));
    const auto drop = upper(rowsWith(image, column(0.8) - 30, column(0.8) + 30, kRed));
    ASSERT_FALSE(steady.empty() || lowest.empty() || rise.empty() || drop.empty());
    EXPECT_LT(rise.front(), steady.front() - 40) << "the spike to 20 V is lost";
    EXPECT_GT(drop.back(), lowest.back() + 40) << "the drop to -20 V is lost";
    EXPECT_TRUE(rowsWith(image, column(0.4) - 5, column(0.4) + 5, kBlue).empty()) << "missing ticks bridged";
    EXPECT_FALSE(rowsWith(image, column(0.3) - 5, column(0.3) + 5, kBlue).empty());
    EXPECT_TRUE(rowsWith(image, column(0.6) - 5, column(0.6) + 5, kGreen).empty()) << "nan drawn as a line";

    // A FIFO is refused at once, named, never waited on for a writer; also
    // through a symbolic link, which leads to a log as well as to anything.
    const std::string fifo = path("fifo.log");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_symlink(fifo, path("link-to-fifo.log"));
    std::filesystem::create_symlink(path("railmon.log"), path("link.log"));
    for (const std::string& name : {fifo, path("link-to-fifo.log"), dir_}) {
        SCOPED_TRACE(name);
        const ProcessResult refused = runProcess({kPlot, name, "--summary"}, {{"XDG_RUNTIME_DIR", dir_}}, 10000);
        EXPECT_FALSE(refused.timedOut);
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_EQ(linesOf(refused.err).size(), 1u) << refused.err;
        EXPECT_THAT(refused.err, HasSubstr(name + ": cannot open: it is a"));
        EXPECT_THAT(refused.err, HasSubstr("not a regular file"));
    }
    EXPECT_EQ(run({kPlot, path("link.log"), "--summary"}).exitCode, 0);
}
