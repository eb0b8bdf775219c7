// Manual read, periodic acquisition with strip charts, and the measurement log.
#include "panel_fixture.h"

#include "indicators.h"
#include "strip_chart.h"
#include "timer_control.h"

#include <QTimer>

#include <cmath>
#include <ctime>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

using testing::ElementsAreArray;
using testing::IsEmpty;

namespace {

const std::string kHeader = "#time\tch\tU\tI\tCV_CC\n";

// A record without its time field, which the test cannot know.
std::string recordTail(int ch, int code)
{
    std::ostringstream text;
    text << '\t' << ch << '\t' << fakeMoniVolts(ch) << '\t' << fakeMoniAmps(ch) << '\t' << code << '\n';
    return text.str();
}

// Splits a log into its header check and its records' tails, checking every
// time field against the window in which the records were written.
std::vector<std::string> recordTails(const std::string& log, time_t from, time_t to)
{
    std::vector<std::string> tails;
    for (const std::string& line : linesOf(log)) {
        if (line.rfind('#', 0) == 0)
            continue;
        const auto tab = line.find('\t');
        const long stamp = std::stol(line.substr(0, tab));
        EXPECT_GE(stamp, from);
        EXPECT_LE(stamp, to);
        tails.push_back(line.substr(tab) + "\n");
    }
    return tails;
}

std::string plotLine(int chart, const std::set<int>& enabled, bool volts)
{
    std::string line = "PlotStripChart " + std::to_string(chart);
    for (int ch = 1; ch <= 4; ++ch)
        line += " " + (enabled.count(ch) ? PanelTest::number(volts ? fakeMoniVolts(ch) : fakeMoniAmps(ch)) : "nan");
    return line;
}

} // namespace

class Monitoring : public PanelTest { };

TEST_F(Monitoring, ReadSweepsOnlyEnabledChannelsInOrderAndShowsEachBeforeTheNext)
{
    const std::map<int, std::vector<int>> masks = {{0, {}}, {2, {1}}, {5, {0, 2}}, {15, {0, 1, 2, 3}}};
    for (const auto& [mask, channels] : masks) {
        SCOPED_TRACE(mask);
        gMask = mask;
        clearFakeLog();
        ReadCB(pnl, controlId("ReadCB"), EVENT_COMMIT, nullptr, 0, 0);
        std::vector<std::string> expected;
        for (int ch : channels)
            expected = concat(expected, sweepAndShow(ch, ch % 2));
        EXPECT_THAT(calls(), ElementsAreArray(expected));
    }
    EXPECT_FALSE(std::filesystem::exists("railmon.log"));
}

TEST_F(Monitoring, NegativeAndUnknownCodesReachIndicatorAndLogAsTheSameNumber)
{
    // -128 too: a code that came with a voltage and a current is a code.
    setenv("TMI_FAKE_CVCC", "-3,77,-128,1", 1);
    gMask = 7;
    gLogToFile = 1;
    TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
    EXPECT_EQ(qobject_cast<RingIndicator*>(control(cvcc[0]))->text(), "-3");
    EXPECT_EQ(qobject_cast<RingIndicator*>(control(cvcc[1]))->text(), "77");
    EXPECT_EQ(qobject_cast<RingIndicator*>(control(cvcc[2]))->text(), "-128");
    const auto tails = recordTails(readFile("railmon.log"), 0, time(nullptr));
    EXPECT_THAT(tails, testing::ElementsAre(recordTail(1, -3), recordTail(2, 77), recordTail(3, -128)));
}

TEST_F(Monitoring, FailedQueryShowsAndLogsNoReadingInsteadOfAMadeUpValue)
{
    setenv("TMI_FAKE_MONI_FAIL", "1", 1);
    gMask = 1;
    gLogToFile = 1;
    TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
    EXPECT_EQ(qobject_cast<Readout*>(control(vmon[0]))->text(), "---");
    EXPECT_EQ(qobject_cast<Readout*>(control(cvcc[0]))->text(), "---");
    EXPECT_FALSE(qobject_cast<RingIndicator*>(control(cvcc[0]))->hasValue()) << "no mode, not a code";
    const auto tails = recordTails(readFile("railmon.log"), 0, time(nullptr));
    EXPECT_THAT(tails, testing::ElementsAre("\t1\tnan\tnan\t-128\n"));
}

TEST_F(Monitoring, HugeReadingsStayLegibleMoveNoLayoutAndAreLoggedAsReported)
{
    QWidget* window = uiPanelWidget(pnl);
    window->show();
    QCoreApplication::processEvents();
    const auto geometries = [&] {
        std::vector<QRect> all;
        for (QWidget* child : window->findChildren<QWidget*>())
            all.push_back(child->geometry());
        return all;
    };
    const std::vector<QRect> before = geometries();
    gMask = 15;
    gLogToFile = 1;
    for (const char* volts : {"1e308", "-1e12", "123456789.125", "12.5"}) {
        SCOPED_TRACE(volts);
        setenv("TMI_FAKE_MONI_VOLTS", volts, 1);
        TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
        QCoreApplication::processEvents();
        auto* readout = qobject_cast<Readout*>(control(vmon[0]));
        EXPECT_LE(QFontMetrics(readout->shownFont()).horizontalAdvance(readout->text()), readout->textRoom())
            << readout->text().toStdString() << " is cut off";
        EXPECT_NEAR(readout->text().toDouble() / std::strtod(volts, nullptr), 1.0, 0.01)
            << readout->text().toStdString();
        EXPECT_EQ(geometries(), before) << "the panel reflowed";
        auto* chart = qobject_cast<StripChart*>(control(PANEL_VCHART));
        EXPECT_TRUE(QCPRange::validRange(chart->yAxis->range())) << "the voltage axis is stuck";
    }
    // The chart draws 1e308 as a gap and scales to the rest of its history.
    auto* chart = qobject_cast<StripChart*>(control(PANEL_VCHART));
    EXPECT_TRUE(std::isnan(chart->graph(0)->data()->constBegin()->value));
    EXPECT_LT(chart->yAxis->range().upper, 1e12);
    EXPECT_GT(chart->yAxis->range().lower, -2e12);
    const std::string log = readFile("railmon.log");
    EXPECT_THAT(log, testing::HasSubstr("\t1\t1e+308\t"));
    EXPECT_THAT(log, testing::HasSubstr("\t1\t-1e+12\t"));
}

TEST_F(Monitoring, TickShowsLogsAndThenPlotsBothChartsOnce)
{
    const std::map<int, std::set<int>> masks = {{0, {}}, {2, {2}}, {15, {1, 2, 3, 4}}};
    for (const auto& [mask, channels] : masks) {
        SCOPED_TRACE(mask);
        gMask = mask;
        clearFakeLog();
        TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
        std::vector<std::string> expected;
        for (int ch : channels)
            expected = concat(expected, sweepAndShow(ch - 1, (ch - 1) % 2));
        expected.push_back(plotLine(PANEL_ICHART, channels, false));
        expected.push_back(plotLine(PANEL_VCHART, channels, true));
        EXPECT_THAT(calls(), ElementsAreArray(expected));
    }
}

TEST_F(Monitoring, ATicksRecordsFollowItsLastIndicatorsAndReachTheFileWholeBeforeThePlots)
{
    gMask = 5;
    gLogToFile = 1;
    // Note how much of the log is in the file at every indicator write and
    // plot: the file is opened at the first logged reading, and the tick's
    // records reach it in one piece, once every channel is shown.
    auto fileSize = [] {
        std::error_code error;
        const auto size = std::filesystem::file_size("railmon.log", error);
        return error ? std::string("none") : std::to_string(size);
    };
    uiTestHooks().valueSet = [&](int, int control, double) {
        note("SetCtrlVal " + std::to_string(control) + " file " + fileSize());
    };
    uiTestHooks().plotted = [&](int, int control, const double*, int) {
        note("PlotStripChart " + std::to_string(control) + " file " + fileSize());
    };
    TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
    const std::string whole = std::to_string(readFile("railmon.log").size());
    auto set = [](int control, const std::string& file) {
        return "SetCtrlVal " + std::to_string(control) + " file " + file;
    };
    auto plot = [&](int chart) { return "PlotStripChart " + std::to_string(chart) + " file " + whole; };
    EXPECT_THAT(calls(),
                testing::ElementsAre("TMI_TimeOut 7 1", "TMI_Refresh 7", "TMI_MoniDataQ 7 1", set(PANEL_VMON1, "none"),
                                     set(PANEL_IMON1, "none"), set(PANEL_CVCC1, "none"), "TMI_TimeOut 7 1",
                                     "TMI_Refresh 7", "TMI_MoniDataQ 7 3", set(PANEL_VMON3, "0"), set(PANEL_IMON3, "0"),
                                     set(PANEL_CVCC3, "0"), plot(PANEL_ICHART), plot(PANEL_VCHART)));
    EXPECT_THAT(recordTails(readFile("railmon.log"), 0, time(nullptr)),
                testing::ElementsAre(recordTail(1, 0), recordTail(3, 0)));
}

TEST_F(Monitoring, CallbacksIgnoreEventsThatAreNotTheirs)
{
    gLogToFile = 1;
    for (int event : {0, 2, 3, 15, 42}) {
        if (event != EVENT_COMMIT) {
            ReadCB(pnl, 0, event, nullptr, 0, 0);
            TimerOnOffCB(pnl, controlId("TimerOnOffCB"), event, nullptr, 0, 0);
            SetIntervalCB(pnl, PANEL_INTERVAL, event, nullptr, 0, 0);
            LogToFileCB(pnl, controlId("LogToFileCB"), event, nullptr, 0, 0);
        }
        if (event != EVENT_TIMER_TICK)
            TimerCB(pnl, PANEL_TIMER, event, nullptr, 0, 0);
    }
    EXPECT_THAT(calls(), IsEmpty());
    EXPECT_EQ(gLogToFile, 1);
    EXPECT_FALSE(std::filesystem::exists("railmon.log"));
}

TEST_F(Monitoring, TimerSwitchSuspendsAndResumesAndIntervalAppliesAtOnce)
{
    auto* timer = qobject_cast<TimerControl*>(control(PANEL_TIMER));
    ASSERT_TRUE(timer);
    testing::internal::CaptureStdout();
    click("TimerOnOffCB"); // on
    EXPECT_TRUE(timer->enabled());
    click("TimerOnOffCB"); // off
    EXPECT_FALSE(timer->enabled());
    SetCtrlVal(pnl, PANEL_INTERVAL, 0.25);
    SetIntervalCB(pnl, PANEL_INTERVAL, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(timer->intervalSeconds(), 0.25);
    EXPECT_FALSE(timer->enabled()) << "changing the interval does not resume";
    click("TimerOnOffCB"); // on
    click("TimerOnOffCB"); // off
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Disabling timer....\nDisabling timer....\n");
}

TEST_F(Monitoring, LogIsExactlyHeaderThenOneRecordPerEnabledChannelPerTick)
{
    const time_t start = time(nullptr);
    gMask = 5;
    click("LogToFileCB");
    ASSERT_EQ(gLogToFile, 1);
    TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);

    // On disk at the end of the tick, without closing the stream.
    std::string log = readFile("railmon.log");
    ASSERT_EQ(log.substr(0, kHeader.size()), kHeader);
    EXPECT_THAT(recordTails(log, start, time(nullptr)), testing::ElementsAre(recordTail(1, 0), recordTail(3, 0)));
    EXPECT_TRUE(
        std::regex_match(log, std::regex("#time\tch\tU\tI\tCV_CC\n([0-9]+\t[1-4]\t[^\t\n]+\t[^\t\n]+\t-?[0-9]+\n)+")));

    // Off: nothing more; on again: the same file goes on, no second header.
    click("LogToFileCB");
    TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
    EXPECT_EQ(readFile("railmon.log"), log);
    click("LogToFileCB");
    ReadCB(pnl, 0, EVENT_COMMIT, nullptr, 0, 0); // a manual read is never logged
    TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
    log = readFile("railmon.log");
    EXPECT_EQ(log.find(kHeader, 1), std::string::npos);
    EXPECT_THAT(recordTails(log, start, time(nullptr)),
                testing::ElementsAre(recordTail(1, 0), recordTail(3, 0), recordTail(1, 0), recordTail(3, 0)));
}

TEST_F(Monitoring, ARunEmptiesTheOldLogOnlyAtItsFirstLoggedReading)
{
    writeFile("railmon.log", "yesterday's records\n");
    gLogToFile = 1;
    gMask = 0; // ticks with no channel enabled log nothing and open nothing
    TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
    EXPECT_EQ(readFile("railmon.log"), "yesterday's records\n");
    EXPECT_EQ(gFp, nullptr);

    gMask = 8;
    TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
    const std::string log = readFile("railmon.log");
    EXPECT_EQ(log.substr(0, kHeader.size()), kHeader);
    EXPECT_THAT(recordTails(log, 0, time(nullptr)), testing::ElementsAre(recordTail(4, 1)));
}

TEST_F(Monitoring, LoggingWhileTheTimerIsSuspendedCreatesNoFile)
{
    auto* timer = qobject_cast<TimerControl*>(control(PANEL_TIMER));
    SetCtrlAttribute(pnl, PANEL_TIMER, ATTR_INTERVAL, 0.01);
    click("LogToFileCB");
    QTimer::singleShot(100, [] { QuitUserInterface(0); });
    RunUserInterface();
    EXPECT_FALSE(timer->enabled());
    EXPECT_FALSE(std::filesystem::exists("railmon.log"));
}

TEST_F(Monitoring, UnopenableLogIsReportedOncePerStreakAndRetriedUntilItOpens)
{
    // A directory in the way fails the open even for root.
    std::filesystem::create_directory("railmon.log");
    gMask = 1;
    gLogToFile = 1;
    testing::internal::CaptureStdout();
    for (int tick = 0; tick < 3; ++tick)
        TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(said,
              "Cannot open " + std::filesystem::current_path().string() +
                  "/railmon.log: it is a directory, not a regular file; not logging\n");
    EXPECT_EQ(gFp, nullptr);

    std::filesystem::remove("railmon.log");
    TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
    const std::string log = readFile("railmon.log");
    EXPECT_EQ(log.substr(0, kHeader.size()), kHeader);
    EXPECT_THAT(recordTails(log, 0, time(nullptr)), testing::ElementsAre(recordTail(1, 0)));
}

TEST_F(Monitoring, UnwritableWorkingDirectoryIsReportedOnceAndLoggingStartsWhenItIsWritable)
{
    // Root writes through permissions, so as root the ticks run as "nobody"
    // in a directory only root may write to.
    const bool root = geteuid() == 0;
    auto asOperator = [root] { ASSERT_TRUE(!root || seteuid(65534) == 0); };
    auto asOwner = [root] { ASSERT_TRUE(!root || seteuid(0) == 0); };
    std::filesystem::permissions(".",
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec |
                                     std::filesystem::perms::others_read | std::filesystem::perms::others_exec);
    gMask = 2;
    gLogToFile = 1;
    testing::internal::CaptureStdout();
    asOperator();
    TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
    TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
    asOwner();
    // Where, too: a desktop start may have put the working directory anywhere.
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Cannot open " + std::filesystem::current_path().string() + "/railmon.log: Permission denied\n");
    EXPECT_FALSE(std::filesystem::exists("railmon.log"));

    std::filesystem::permissions(".", std::filesystem::perms::all);
    asOperator();
    TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
    asOwner();
    EXPECT_THAT(recordTails(readFile("railmon.log"), 0, time(nullptr)), testing::ElementsAre(recordTail(2, 1)));
}

TEST_F(Monitoring, ExitEndsTheLoopOnlyOnCommit)
{
    bool stillRunning = false;
    // The timers die with this test: one outliving it would quit the loop,
    // or leave a quit asked for, in whichever test runs 5 s later.
    QObject scope;
    QTimer::singleShot(0, &scope, [] { ExitCB(pnl, 0, 2, nullptr, 0, 0); });
    QTimer::singleShot(50, &scope, [&] {
        stillRunning = true;
        ExitCB(pnl, 0, EVENT_COMMIT, nullptr, 0, 0);
    });
    QTimer::singleShot(5000, &scope, [] { QuitUserInterface(1); }); // a safety net only
    EXPECT_EQ(RunUserInterface(), 0);
    EXPECT_TRUE(stillRunning);
}
