// The user-interface runtime: panel files, control values, commit events,
// timer ticks and strip charts. Its own callback table records every event.
#include "indicators.h"
#include "process.h"
#include "railmon-ctrl.h"
#include "strip_chart.h"
#include "test_paths.h"
#include "timer_control.h"
#include "userint.h"
#include "userint_testing.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHelpEvent>
#include <QTimer>
#include <QToolTip>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Event {
    std::string callback;
    int control, event;
    bool operator==(const Event&) const = default;
};
std::vector<Event> gEvents;

template <const char* Name>
int CVICALLBACK recordingCallback(int, int control, int event, void*, int, int)
{
    gEvents.push_back({Name, control, event});
    return 0;
}

#define RECORDING(name, kind)                                        \
    constexpr char name##Name[] = #name;                             \
    int CVICALLBACK name(int p, int c, int e, void* d, int a, int b) \
    {                                                                \
        return recordingCallback<name##Name>(p, c, e, d, a, b);      \
    }
RAILMON_PANEL_CALLBACKS(RECORDING)
#undef RECORDING

} // namespace

RAILMON_UI_TABLES(name)

namespace {

// Runs the event loop for a while, as RunUserInterface does for the program.
void runLoopFor(int ms, std::function<void()> during = {})
{
    if (during)
        QTimer::singleShot(0, during);
    QTimer::singleShot(ms, [] { QuitUserInterface(0); });
    RunUserInterface();
}

class PanelFile : public testing::Test {
protected:
    void SetUp() override
    {
        gEvents.clear();
        dir_ = makeTempDir();
    }
    void TearDown() override
    {
        if (panel_ > 0)
            DiscardPanel(panel_);
        std::filesystem::remove_all(dir_);
    }
    int loadShipped()
    {
        panel_ = LoadPanel(0, RAILMON_PANEL_FILE, PANEL);
        return panel_;
    }
    // Loads a variant of the shipped panel file with one text replaced.
    int loadEdited(const std::string& from, const std::string& to)
    {
        std::string text = readFile(RAILMON_PANEL_FILE);
        const auto at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos)
            text.replace(at, from.size(), to);
        return loadText(text);
    }
    // Loads the shipped panel with one property of one widget given another
    // value element, e.g. ("timer", "interval", "<double>0</double>").
    int loadWithProperty(const std::string& widgetName, const std::string& property, const std::string& value)
    {
        std::string text = readFile(RAILMON_PANEL_FILE);
        const auto widget = text.find("name=\"" + widgetName + "\"");
        const auto prop = text.find("name=\"" + property + "\"", widget);
        const auto begin = text.find('<', text.find('>', prop) + 1);
        const auto end = text.find('>', text.find("</", begin)) + 1;
        EXPECT_NE(widget, std::string::npos) << widgetName;
        EXPECT_NE(prop, std::string::npos) << property;
        text.replace(begin, end - begin, value);
        return loadText(text);
    }
    int loadText(const std::string& text)
    {
        writeFile(dir_ + "/panel.uir", text);
        testing::internal::CaptureStderr();
        panel_ = LoadPanel(0, (dir_ + "/panel.uir").c_str(), PANEL);
        stderr_ = testing::internal::GetCapturedStderr();
        return panel_;
    }
    template <typename T>
    T* widget(int id)
    {
        return qobject_cast<T*>(uiControlObject(panel_, id));
    }

    int panel_ = 0;
    std::string dir_, stderr_;
};

const int kVmon[] = {PANEL_VMON1, PANEL_VMON2, PANEL_VMON3, PANEL_VMON4},
          kImon[] = {PANEL_IMON1, PANEL_IMON2, PANEL_IMON3, PANEL_IMON4},
          kVset[] = {PANEL_VSET1, PANEL_VSET2, PANEL_VSET3, PANEL_VSET4},
          kIset[] = {PANEL_ISET1, PANEL_ISET2, PANEL_ISET3, PANEL_ISET4},
          kRadiob[] = {PANEL_ENABLE1, PANEL_ENABLE2, PANEL_ENABLE3, PANEL_ENABLE4},
          kCvcc[] = {PANEL_CVCC1, PANEL_CVCC2, PANEL_CVCC3, PANEL_CVCC4};

} // namespace

TEST_F(PanelFile, ShippedPanelHoldsEveryControlOfTheMapWithItsKind)
{
    ASSERT_GT(loadShipped(), 0);
    for (int ch = 0; ch < 4; ++ch) {
        EXPECT_TRUE(widget<NumericIndicator>(kVmon[ch])) << ch;
        EXPECT_TRUE(widget<NumericIndicator>(kImon[ch])) << ch;
        EXPECT_TRUE(widget<QDoubleSpinBox>(kVset[ch])) << ch;
        EXPECT_TRUE(widget<QDoubleSpinBox>(kIset[ch])) << ch;
        EXPECT_TRUE(widget<RingIndicator>(kCvcc[ch])) << ch;
        auto* enable = widget<QAbstractButton>(kRadiob[ch]);
        ASSERT_TRUE(enable) << ch;
        EXPECT_TRUE(enable->isCheckable());
        EXPECT_EQ(enable->property("callback").toString(), "SetMaskCB");
    }
    EXPECT_TRUE(widget<TimerControl>(PANEL_TIMER));
    EXPECT_TRUE(widget<QDoubleSpinBox>(PANEL_INTERVAL));
    EXPECT_TRUE(widget<StripChart>(PANEL_ICHART));
    EXPECT_EQ(widget<StripChart>(PANEL_VCHART)->traceCount(), 4);

    // The main output switch reads as the supply's states, 0 off and 1 on.
    auto* output = widget<QAbstractButton>(PANEL_MAINOUTPUT);
    ASSERT_TRUE(output);
    int state = -1;
    output->setChecked(true);
    GetCtrlVal(panel_, PANEL_MAINOUTPUT, &state);
    EXPECT_EQ(state, 1);
    output->setChecked(false);
    GetCtrlVal(panel_, PANEL_MAINOUTPUT, &state);
    EXPECT_EQ(state, 0);

    // The preset selector offers the simulated supply's presets 1 to 4.
    auto* preset = widget<QComboBox>(PANEL_PRESET);
    ASSERT_TRUE(preset);
    ASSERT_EQ(preset->count(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(preset->itemData(i).toInt(), i + 1);

    // The five controls no code names, found by their callbacks.
    for (const char* name : {"ReadCB", "SetCB", "ExitCB", "LogToFileCB", "TimerOnOffCB"})
        EXPECT_TRUE(uiControlByCallback(panel_, name)) << name;
}

TEST_F(PanelFile, BrokenFilesGiveANegativeHandleAndOneLineNamingTheCause)
{
    struct Case {
        const char* what;
        std::function<int()> load;
        const char* cause;
    };
    const std::vector<Case> cases = {
        {"malformed XML", [&] { return loadText(readFile(RAILMON_PANEL_FILE).substr(0, 3000)); }, ""},
        {"binary garbage",
         [&] {
             static const char bytes[] = "\x7f"
                                         "ELF\0\0\x01\xff garbage";
             return loadText(std::string(bytes, sizeof bytes));
         },
         ""},
        {"duplicate ID",
         [&] { return loadWithProperty("vmon1", "ctrlId", "<number>" + std::to_string(PANEL_IMON1) + "</number>"); },
         "used twice"},
        {"unknown callback", [&] { return loadEdited("<string>ReadCB</string>", "<string>ReedCB</string>"); },
         "ReedCB"},
        {"unknown class", [&] { return loadEdited("class=\"NumericIndicator\"", "class=\"FancyDial\""); }, "FancyDial"},
        {"ID of the wrong type", [&] { return loadWithProperty("vmon1", "ctrlId", "<string>twenty-four</string>"); },
         "ctrlId"},
        {"ID out of range", [&] { return loadWithProperty("vmon1", "ctrlId", "<number>-4</number>"); }, "ctrlId"},
        {"wrong panel", [&] { return loadWithProperty("RailmonPanel", "panelId", "<number>2</number>"); },
         "no panel 1"},
        {"bad value labels", [&] { return loadEdited("1=Preset 1;", "one=Preset 1;"); }, "valueLabels"},
        {"zero timer interval", [&] { return loadWithProperty("timer", "interval", "<double>0</double>"); },
         "interval"},
        {"text timer interval", [&] { return loadWithProperty("timer", "interval", "<string>often</string>"); },
         "interval"},
        {"huge chart history",
         [&] { return loadWithProperty("voltageChart", "historySeconds", "<double>1e300</double>"); },
         "historySeconds"},
        {"text chart history",
         [&] { return loadWithProperty("voltageChart", "historySeconds", "<string>an hour</string>"); },
         "historySeconds"},
        {"one point per trace",
         [&] { return loadWithProperty("currentChart", "maxPointsPerTrace", "<number>1</number>"); },
         "maxPointsPerTrace"},
        {"equal switch values", [&] { return loadWithProperty("mainOutput", "onValue", "<number>0</number>"); },
         "equal"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_LT(c.load(), 0);
        EXPECT_THAT(stderr_, testing::HasSubstr("panel.uir: "));
        EXPECT_THAT(stderr_, testing::HasSubstr(c.cause));
        EXPECT_EQ(std::count(stderr_.begin(), stderr_.end(), '\n'), 1) << stderr_;
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(LoadPanel(0, (dir_ + "/absent.uir").c_str(), PANEL), UIE_FILE);
    EXPECT_THAT(testing::internal::GetCapturedStderr(), testing::HasSubstr("absent.uir"));
}

TEST_F(PanelFile, ProgramWritesNeverCallBackButOperatorActionsCommitOnce)
{
    ASSERT_GT(loadShipped(), 0);
    SetCtrlVal(panel_, PANEL_INTERVAL, 2.5);
    SetCtrlVal(panel_, PANEL_MAINOUTPUT, 1);
    SetCtrlVal(panel_, PANEL_PRESET, 3);
    SetCtrlVal(panel_, kRadiob[1], 0);
    EXPECT_THAT(gEvents, testing::IsEmpty());

    double interval = 0;
    GetCtrlVal(panel_, PANEL_INTERVAL, &interval);
    EXPECT_EQ(interval, 2.5);
    unsigned char preset = 0;
    GetCtrlVal(panel_, PANEL_PRESET, &preset);
    EXPECT_EQ(preset, 3);

    widget<QAbstractButton>(kRadiob[1])->click();
    widget<QDoubleSpinBox>(PANEL_INTERVAL)->stepUp();
    auto* combo = widget<QComboBox>(PANEL_PRESET);
    emit combo->activated(1);
    EXPECT_EQ(gEvents,
              (std::vector<Event>{{"SetMaskCB", kRadiob[1], EVENT_COMMIT},
                                  {"SetIntervalCB", PANEL_INTERVAL, EVENT_COMMIT},
                                  {"SetPresetCB", PANEL_PRESET, EVENT_COMMIT}}));
    int ison = -1;
    GetCtrlVal(panel_, kRadiob[1], &ison);
    EXPECT_EQ(ison, 1);
}

TEST_F(PanelFile, TimerTicksOnlyInsideTheEventLoopAndObeysSuspend)
{
    ASSERT_GT(loadWithProperty("timer", "enabled", "<bool>true</bool>"), 0);
    ASSERT_EQ(SetCtrlAttribute(panel_, PANEL_TIMER, ATTR_INTERVAL, 0.01), 0);
    // Outside the loop, as during start-up pop-ups: no tick.
    QCoreApplication::processEvents();
    QTimer wait;
    wait.start(60);
    while (wait.isActive() && wait.remainingTime() > 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_THAT(gEvents, testing::IsEmpty());

    runLoopFor(200);
    const auto ticks = std::count(gEvents.begin(), gEvents.end(), Event{"TimerCB", PANEL_TIMER, EVENT_TIMER_TICK});
    EXPECT_GT(ticks, 3);
    EXPECT_EQ(ticks, static_cast<long>(gEvents.size()));

    gEvents.clear();
    runLoopFor(100, [] { SuspendTimerCallbacks(); });
    EXPECT_THAT(gEvents, testing::IsEmpty());
    ResumeTimerCallbacks();

    // Nonsense intervals are refused and the old one kept.
    for (double bad : {0.0, -1.0, std::nan(""), HUGE_VAL})
        EXPECT_LT(SetCtrlAttribute(panel_, PANEL_TIMER, ATTR_INTERVAL, bad), 0);
    EXPECT_EQ(widget<TimerControl>(PANEL_TIMER)->intervalSeconds(), 0.01);
}

TEST_F(PanelFile, StripChartKeepsItsHistoryByTimeCappedInPointsAndDrawsMissingValuesAsGaps)
{
    ASSERT_GT(loadShipped(), 0);
    EXPECT_EQ(widget<StripChart>(PANEL_VCHART)->historySeconds(), 3600.0);
    EXPECT_EQ(widget<StripChart>(PANEL_VCHART)->maxPointsPerTrace(), 72000);
    DiscardPanel(panel_);

    // The cap: a timer far faster than the panel allows keeps only the newest points.
    ASSERT_GT(loadWithProperty("currentChart", "maxPointsPerTrace", "<number>5</number>"), 0);
    EXPECT_EQ(SetTraceAttributeEx(panel_, PANEL_ICHART, 2, ATTR_TRACE_LG_TEXT, "CH -18V"), 0);
    EXPECT_LT(SetTraceAttributeEx(panel_, PANEL_ICHART, 5, ATTR_TRACE_LG_TEXT, "none"), 0);
    auto* chart = widget<StripChart>(PANEL_ICHART);
    EXPECT_EQ(chart->graph(1)->name(), "CH -18V");
    for (int i = 0; i < 1000; ++i) {
        const double values[4] = {1.0 * i, std::nan(""), HUGE_VAL, -1.0};
        EXPECT_EQ(PlotStripChart(panel_, PANEL_ICHART, values, 4, 0, 0, VAL_DOUBLE), 0);
    }
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(chart->graph(k)->data()->size(), 5) << k;
    EXPECT_EQ((chart->graph(0)->data()->constEnd() - 1)->value, 999.0);
    EXPECT_TRUE(std::isnan(chart->graph(2)->data()->constBegin()->value)) << "infinity is drawn as a gap";
    chart->updateView();
    EXPECT_TRUE(chart->yAxis->range().contains(-1.0) && chart->yAxis->range().contains(999.0));
    EXPECT_LT(chart->yAxis->range().upper, 1100.0) << "not scaled to what the history kept";
    DiscardPanel(panel_);

    // The history in time: points older than historySeconds go, however few.
    EXPECT_LT(loadWithProperty("voltageChart", "historySeconds", "<double>0.2</double>"), 0)
        << "shorter than a second is refused";
    ASSERT_GT(loadWithProperty("voltageChart", "historySeconds", "<number>1</number>"), 0);
    chart = widget<StripChart>(PANEL_VCHART);
    const double values[4] = {1, 2, 3, 4};
    PlotStripChart(panel_, PANEL_VCHART, values, 4, 0, 0, VAL_DOUBLE);
    runLoopFor(1200);
    PlotStripChart(panel_, PANEL_VCHART, values, 4, 0, 0, VAL_DOUBLE);
    EXPECT_EQ(chart->graph(0)->data()->size(), 1) << "the point older than a second stayed";

    // A following view scales to what it shows as the points go past; a
    // peak reached twice holds the scale until the second one has left too.
    auto* following = widget<StripChart>(PANEL_ICHART);
    const double start = 4e9, spike[4] = {100, 1, 1, 1}, calm[4] = {1, 2, 1, 1}; // [s since the epoch], [A]
    following->plotAt(start, spike, 4);
    for (int i = 1; i <= 400; ++i) {
        following->plotAt(start + i, i == 50 ? spike : calm, 4);
        following->updateView();
        if (i == 200 || i == 330) {
            EXPECT_GT(following->yAxis->range().upper, 100.0) << i;
        }
    }
    EXPECT_LT(following->yAxis->range().upper, 3.0) << "the spike left the view, its scale stayed";
    EXPECT_GT(following->yAxis->range().upper, 2.0);
}

TEST_F(PanelFile, AStatusLinesTooltipIsItsWholeTextAndFollowsItWhileShown)
{
    ASSERT_GT(loadShipped(), 0);
    DisplayPanel(panel_);
    auto* status = widget<TextMessage>(PANEL_STATUS_LOG);
    ASSERT_NE(status, nullptr);
    const QString first = "Logging: 1 record to /a/path/longer/than/the/field/is/wide/railmon.log",
                  second = "Logging: 2 records to /a/path/longer/than/the/field/is/wide/railmon.log";
    SetCtrlVal(panel_, PANEL_STATUS_LOG, first.toUtf8().constData());
    // Hovered: Qt asks the widget for its tooltip with a ToolTip event.
    status->setAttribute(Qt::WA_UnderMouse);
    const QPoint at = status->rect().center();
    QHelpEvent hover(QEvent::ToolTip, at, status->mapToGlobal(at));
    QApplication::sendEvent(status, &hover);
    ASSERT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), first);
    SetCtrlVal(panel_, PANEL_STATUS_LOG, second.toUtf8().constData());
    EXPECT_EQ(QToolTip::text(), second) << "a tooltip on show must not keep an old count";
    QToolTip::hideText();
    status->setAttribute(Qt::WA_UnderMouse, false);
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    char name[] = "ui_runtime_tests", platform[] = "-platform", offscreen[] = "offscreen";
    char* qtArgv[] = {name, platform, offscreen, nullptr};
    if (!InitCVIRTEEx(0, qtArgv, 0))
        return 1;
    return RUN_ALL_TESTS();
}
