// How long railmon's own work takes, in-process, headless:
//   make -C . bench   or   build/bench/railmon_bench
#include "log_file.h"
#include "metrics_export.h"
#include "protection.h"
#include "railmon-ctrl.h"
#include "railmon.h"
#include "strip_chart.h"
#include "test_paths.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDateTime>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace {

void startRuntime()
{
    static char name[] = "railmon_bench", platform[] = "-platform", offscreen[] = "offscreen";
    static char* argv[] = {name, platform, offscreen, nullptr};
    InitCVIRTEEx(0, argv, 0);
}

// The shipped panel on the given library, connection open.
void openPanelOn(const std::string& libraryDir)
{
    startRuntime();
    SetStdioPort(0);
    setenv("LD_LIBRARY_PATH", libraryDir.c_str(), 1);
    setenv("TMI_SIM_STATE", "/tmp/railmon-bench.state", 1);
    pnl = LoadPanel(0, RAILMON_PANEL_FILE, PANEL);
    TMI_Open();
    char dev[] = "PW-A", usb[] = "USB:1:1";
    TMI_OpenHandle(dev, usb);
}

void closePanel()
{
    DiscardPanel(pnl);
    TMI_Close();
    TMI_APIDll = nullptr;
    LogClose();
    gFp = nullptr;
}

// One timer tick over four channels on the simulated supply: sweeps,
// indicators, four log records and their flush, two chart plots.
void BM_TickWithLogging(benchmark::State& state)
{
    const auto dir = std::filesystem::temp_directory_path() / "railmon-bench";
    std::filesystem::create_directories(dir);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    openPanelOn(RAILMON_BIN_DIR);
    TMI_MainOutput(TMI_DeviceId, 1);
    gMask = 15;
    gLogToFile = state.range(0);
    for (auto _ : state)
        TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
    closePanel();
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_TickWithLogging)->Arg(0)->Arg(1)->ArgName("logging")->Unit(benchmark::kMicrosecond);

// The run's first logged tick with the previous run's log in the folder:
// keeping it as railmon.log.1 must cost no tick at any size. The previous
// log is a sparse file of the given size [MiB], as large as a day's log.
void BM_FirstLoggedTick(benchmark::State& state)
{
    const auto dir = std::filesystem::temp_directory_path() / "railmon-bench-first";
    std::filesystem::create_directories(dir);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    openPanelOn(RAILMON_BIN_DIR);
    gMask = 15;
    for (auto _ : state) {
        state.PauseTiming();
        LogClose();
        gFp = nullptr;
        std::filesystem::remove("railmon.log.1");
        const int fd = open("railmon.log", O_RDWR | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ftruncate(fd, state.range(0) << 20) != 0 || write(fd, "#time\n", 6) != 6)
            state.SkipWithError("cannot make the previous log");
        close(fd);
        gLogToFile = 1;
        state.ResumeTiming();
        TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
    }
    closePanel();
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_FirstLoggedTick)
    ->Arg(0)
    ->Arg(1536)
    ->ArgName("previous_mib")
    ->Iterations(20)
    ->Unit(benchmark::kMicrosecond);

double clockSeconds(clockid_t clock)
{
    timespec t = {};
    clock_gettime(clock, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// The window of the panel loaded since `before` was taken.
QWidget* newPanelWindow(const QWidgetList& before)
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (!before.contains(window) && window->findChild<StripChart*>(QStringLiteral("voltageChart")))
            return window;
    std::abort();
}

// The wall time spent inside the library's calls, and their number: the
// three a sweep makes are routed through these while BM_TickShare runs.
double gLibrarySeconds = 0.0;
long gLibraryCalls = 0;
int (*gRealTimeOut)(int, int) = nullptr;
int (*gRealRefresh)(int) = nullptr;
int (*gRealMoniDataQ)(int, char, double*, double*, char*) = nullptr;

struct LibraryClock {
    const double start = clockSeconds(CLOCK_MONOTONIC);
    ~LibraryClock()
    {
        gLibrarySeconds += clockSeconds(CLOCK_MONOTONIC) - start;
        ++gLibraryCalls;
    }
};
int timedTimeOut(int device, int seconds)
{
    const LibraryClock clock;
    return gRealTimeOut(device, seconds);
}
int timedRefresh(int device)
{
    const LibraryClock clock;
    return gRealRefresh(device);
}
int timedMoniDataQ(int device, char channel, double* voltage, double* current, char* mode)
{
    const LibraryClock clock;
    return gRealMoniDataQ(device, channel, voltage, current, mode);
}

// Protection: railmon's own time from the reading that breaks an armed
// limit to the off call, and what a tick costs with every channel armed.
// The reading's end and the off call's start are both taken inside the
// library's functions, on the thread that makes the calls, so the figure
// holds both hand-offs between the loop's thread and that one.
double gReadingEnd = 0.0; // [s] CLOCK_MONOTONIC
double gOffStart = 0.0;   // [s]
int (*gRealMainOutput)(int, unsigned char) = nullptr;
int endedMoniDataQ(int device, char channel, double* voltage, double* current, char* mode)
{
    const int result = gRealMoniDataQ(device, channel, voltage, current, mode);
    gReadingEnd = clockSeconds(CLOCK_MONOTONIC);
    return result;
}
int startedMainOutput(int device, unsigned char state)
{
    gOffStart = clockSeconds(CLOCK_MONOTONIC);
    return gRealMainOutput(device, state);
}

// Protection's levels in a folder of the benchmark's own, never the user's.
void protectionSetUp(const std::filesystem::path& dir)
{
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ProtectionSetUp(pnl);
}

void BM_ProtectionReadingToOff(benchmark::State& state)
{
    const auto dir = std::filesystem::temp_directory_path() / "railmon-bench-protection";
    std::filesystem::create_directories(dir);
    openPanelOn(RAILMON_BIN_DIR);
    protectionSetUp(dir);
    gMask = 15;
    std::string why;
    // CH +6V reads about 0.3 A on the simulated supply's 10 ohm load.
    ProtectionSetLevel(2, PROTECT_CURRENT, 0.1, why);
    ProtectionArm(2, PROTECT_CURRENT, true);
    gRealMoniDataQ = std::exchange(TMI_MoniDataQ, endedMoniDataQ);
    gRealMainOutput = std::exchange(TMI_MainOutput, startedMainOutput);
    std::vector<double> own;
    for (auto _ : state) {
        gRealMainOutput(TMI_DeviceId, 1);
        RailmonReadChannel(pnl, 2);
        own.push_back(gOffStart - gReadingEnd);
        state.SetIterationTime(own.back());
        ProtectionClear("the benchmark");
    }
    TMI_MoniDataQ = gRealMoniDataQ;
    TMI_MainOutput = gRealMainOutput;
    ProtectionArm(2, PROTECT_CURRENT, false);
    std::sort(own.begin(), own.end());
    state.counters["p50_us"] = own[own.size() / 2] * 1e6;
    state.counters["p99_us"] = own[own.size() * 99 / 100] * 1e6;
    state.counters["max_us"] = own.back() * 1e6;
    closePanel();
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ProtectionReadingToOff)->Iterations(2000)->UseManualTime()->Unit(benchmark::kMicrosecond);

// A tick over four channels at 0 ms per call, with 0 or 4 channels armed
// (over-voltage and over-current, none broken), logging off.
void BM_TickProtected(benchmark::State& state)
{
    const auto dir = std::filesystem::temp_directory_path() / "railmon-bench-protected";
    std::filesystem::create_directories(dir);
    openPanelOn(RAILMON_BIN_DIR);
    protectionSetUp(dir);
    TMI_MainOutput(TMI_DeviceId, 1);
    SetCtrlVal(pnl, PANEL_TIMERONOFF, 1);
    gMask = 15;
    gLogToFile = 0;
    for (int ch = 0; ch < state.range(0); ++ch)
        for (int limit = 0; limit < PROTECT_LIMITS; ++limit)
            ProtectionArm(ch, static_cast<ProtectionLimit>(limit), limit != PROTECT_CC);
    for (int i = 0; i < 20; ++i)
        TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
    for (auto _ : state) {
        Q_EMIT QAbstractEventDispatcher::instance()->awake();
        TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
    }
    if (ProtectionTripped().tripped)
        state.SkipWithError("a tick tripped the protection");
    for (int ch = 0; ch < CHANNELS; ++ch)
        for (int limit = 0; limit < PROTECT_LIMITS; ++limit)
            ProtectionArm(ch, static_cast<ProtectionLimit>(limit), false);
    closePanel();
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_TickProtected)->Arg(0)->Arg(4)->ArgName("armed")->Repetitions(5)->Unit(benchmark::kMicrosecond);

// railmon's own time in a tick against the whole tick: TimerCB over four
// channels on the simulated supply with each library call taking
// latency:N ms (a USB round trip is about 1 ms), logging on or off, and
// with repaints: after the tick, each chart's frame and the window's
// pending paints (readouts, status fields, charts) done as the event loop
// would do them. whole_us is the wall time per tick, own_us the part of it
// outside the library's calls; share = own / whole, from the same ticks.
void BM_TickShare(benchmark::State& state)
{
    const auto dir = std::filesystem::temp_directory_path() / "railmon-bench-share";
    std::filesystem::create_directories(dir);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    setenv("TMI_SIM_LATENCY_MS", std::to_string(state.range(0)).c_str(), 1);
    startRuntime();
    const QWidgetList before = QApplication::topLevelWidgets();
    openPanelOn(RAILMON_BIN_DIR);
    unsetenv("TMI_SIM_LATENCY_MS");
    TMI_MainOutput(TMI_DeviceId, 1);
    gMask = 15;
    gLogToFile = state.range(1);
    const bool repaint = state.range(2);
    QWidget* window = newPanelWindow(before);
    StripChart* charts[2] = {window->findChild<StripChart*>(QStringLiteral("currentChart")),
                             window->findChild<StripChart*>(QStringLiteral("voltageChart"))};
    window->show();
    QCoreApplication::processEvents();
    // Past the first frames and the log's opening.
    for (int i = 0; i < 20; ++i)
        TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
    QCoreApplication::processEvents();
    gRealTimeOut = std::exchange(TMI_TimeOut, timedTimeOut);
    gRealRefresh = std::exchange(TMI_Refresh, timedRefresh);
    gRealMoniDataQ = std::exchange(TMI_MoniDataQ, timedMoniDataQ);
    gLibrarySeconds = 0.0;
    gLibraryCalls = 0;
    double wall = 0.0; // seconds
    for (auto _ : state) {
        const double wall0 = clockSeconds(CLOCK_MONOTONIC);
        // A tick starts from a pass of the event loop, which the runtime
        // keeps count of (it makes a pass of its own between calls only
        // when the loop has made none for a while); without repaints that
        // pass is only told, not made.
        if (!repaint)
            Q_EMIT QAbstractEventDispatcher::instance()->awake();
        TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
        if (repaint) {
            for (StripChart* chart : charts) {
                if (chart)
                    chart->paintFrameNow();
            }
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
        wall += clockSeconds(CLOCK_MONOTONIC) - wall0;
    }
    TMI_TimeOut = gRealTimeOut;
    TMI_Refresh = gRealRefresh;
    TMI_MoniDataQ = gRealMoniDataQ;
    const double ticks = static_cast<double>(state.iterations());
    const double own = wall - gLibrarySeconds;
    state.counters["own_us"] = own / ticks * 1e6;
    state.counters["whole_us"] = wall / ticks * 1e6;
    state.counters["share_pct"] = wall > 0 ? 100.0 * own / wall : 0.0;
    state.counters["calls_per_tick"] = gLibraryCalls / ticks;
    window->hide();
    closePanel();
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_TickShare)
    ->ArgsProduct({{0, 1}, {0, 1}, {0, 1}})
    ->ArgNames({"latency", "logging", "repaint"})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

// The same tick with the export for Prometheus on: the tick only hands the
// state over; the file is written beside the loop, at most once a second.
void BM_TickWithExport(benchmark::State& state)
{
    const auto dir = std::filesystem::temp_directory_path() / "railmon-bench-export";
    std::filesystem::create_directories(dir);
    setenv("RAILMON_METRICS_DIR", dir.c_str(), 1);
    openPanelOn(RAILMON_BIN_DIR);
    TMI_MainOutput(TMI_DeviceId, 1);
    gMask = 15;
    gLogToFile = 0;
    MetricsOpen();
    for (auto _ : state)
        TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
    MetricsClose();
    unsetenv("RAILMON_METRICS_DIR");
    closePanel();
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_TickWithExport)->Unit(benchmark::kMicrosecond);

// What one fdatasync of the log costs after a tick's records: the reason it
// runs beside the event loop, at most once a second, rather than in the tick.
void BM_LogSync(benchmark::State& state)
{
    const auto path = std::filesystem::temp_directory_path() / "railmon-bench-sync.log";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const char tick[] = "1796791234\t1\t12.001\t0.1201\t0\n1796791234\t2\t-12.002\t0.1202\t0\n"
                        "1796791234\t3\t5.001\t0.5001\t0\n1796791234\t4\t-5.002\t0.5002\t0\n";
    for (auto _ : state) {
        benchmark::DoNotOptimize(write(fd, tick, sizeof tick - 1));
        fdatasync(fd);
    }
    close(fd);
    std::filesystem::remove(path);
}
BENCHMARK(BM_LogSync)->Unit(benchmark::kMicrosecond);

// One plot on a chart whose history holds its most points (72,000 per trace).
void BM_PlotFullChart(benchmark::State& state)
{
    openPanelOn(std::string(RAILMON_FAKES_DIR) + "/complete");
    const double values[4] = {0.1, 0.2, 0.3, 0.4};
    for (int i = 0; i < StripChart::kDefaultMaxPointsPerTrace; ++i)
        PlotStripChart(pnl, PANEL_ICHART, values, 4, 0, 0, VAL_DOUBLE);
    for (auto _ : state)
        PlotStripChart(pnl, PANEL_ICHART, values, 4, 0, 0, VAL_DOUBLE);
    closePanel();
}
BENCHMARK(BM_PlotFullChart)->Unit(benchmark::kMicrosecond);

// The voltage chart of a fresh shipped panel at the window's default size.
StripChart* shippedChart()
{
    startRuntime();
    const QWidgetList before = QApplication::topLevelWidgets();
    LoadPanel(0, RAILMON_PANEL_FILE, PANEL);
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (before.contains(window))
            continue;
        if (auto* chart = window->findChild<StripChart*>(QStringLiteral("voltageChart"))) {
            window->show();
            QCoreApplication::processEvents();
            return chart;
        }
    }
    std::abort();
}

// One frame of one chart holding a full hour at the panel's fastest
// interval (50 ms: 72,000 points on each of four traces, readings with the
// meters' noise), at the shipped window's size: the default view (the
// newest five minutes, following), and the whole hour held in view.
void BM_ChartFrame(benchmark::State& state)
{
    static StripChart* chart = shippedChart();
    chart->configure(4, StripChart::kDefaultHistorySeconds, StripChart::kDefaultMaxPointsPerTrace);
    // An hour from now on, after anything the chart was given before.
    static double start = QDateTime::currentSecsSinceEpoch();
    start += 2 * StripChart::kDefaultHistorySeconds;
    const double volts[4] = {12.0, -12.0, 5.0, -5.0};
    unsigned noise = 12345;
    for (int i = 0; i < StripChart::kDefaultMaxPointsPerTrace; ++i) {
        double values[4];
        for (int k = 0; k < 4; ++k) {
            noise = noise * 1103515245u + 12345u;
            values[k] = volts[k] + std::round(((noise >> 16) % 5) - 2.0) * 0.001; // [V] about 2 mV, 1 mV steps
        }
        chart->plotAt(start + i * 0.05, values, 4);
    }
    if (state.range(0) == 1)
        chart->showWholeHistory();
    else
        chart->setFollowing(true);
    // Steady state: each frame one new point per trace (the timer at its
    // fastest gives one every three frames), then the repaint. Following,
    // most frames draw the new points alone and one in about fourteen (the
    // view slid a pixel) the whole chart; drawn whole (2): as if every frame
    // moved the view.
    double next = start + StripChart::kDefaultMaxPointsPerTrace * 0.05;
    for (auto _ : state) {
        chart->plotAt(next, volts, 4);
        next += 0.05;
        if (state.range(0) == 2)
            chart->setTraceLabel(1, "CH +18V"); // the same label: drawn whole
        chart->paintFrameNow();
    }
    state.SetLabel(std::to_string(chart->width()) + "x" + std::to_string(chart->height()) + " px");
}
BENCHMARK(BM_ChartFrame)->Arg(0)->Arg(1)->Arg(2)->ArgName("view")->Unit(benchmark::kMillisecond);

// Reading the panel file and building the window: most of start-up.
void BM_LoadPanel(benchmark::State& state)
{
    startRuntime();
    for (auto _ : state) {
        const int panel = LoadPanel(0, RAILMON_PANEL_FILE, PANEL);
        benchmark::DoNotOptimize(panel);
        DiscardPanel(panel);
    }
}
BENCHMARK(BM_LoadPanel)->Unit(benchmark::kMillisecond);

// Loading the library and binding its 39 entry points.
void BM_BindLibrary(benchmark::State& state)
{
    setenv("LD_LIBRARY_PATH", (std::string(RAILMON_FAKES_DIR) + "/complete").c_str(), 1);
    // TMI_Open's progress lines would bury the results table.
    fflush(stdout);
    const int savedStdout = dup(1);
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(TMI_Open());
        TMI_Close();
        TMI_APIDll = nullptr;
    }
    fflush(stdout);
    dup2(savedStdout, 1);
    close(devNull);
    close(savedStdout);
}
BENCHMARK(BM_BindLibrary)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
