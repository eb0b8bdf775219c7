// What the panel shows is what the supply reported, or marked as not that:
// typed entries, pending edits, the CV/CC lamps, stale readouts, the status
// line, the shortcuts, and a layout with nothing clipped. Worked with real
// key and mouse events on the shipped panel, against the recording fake.
#include "indicators.h"
#include "numeric_control.h"
#include "panel_edits.h"
#include "panel_fixture.h"
#include "protection.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

using testing::HasSubstr;
using testing::StartsWith;

namespace {

template <typename T>
T* widget(int id)
{
    return qobject_cast<T*>(uiControlObject(pnl, id));
}

} // namespace

class PanelTrust : public PanelTest {
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        window()->show();
        // Shortcuts go to the active window only.
        QApplication::setActiveWindow(window());
        QApplication::processEvents();
    }
    void TearDown() override
    {
        for (const char* name : {"TMI_FAKE_RESOLUTION", "TMI_FAKE_MONI_FAIL", "TMI_FAKE_CVCC"})
            unsetenv(name);
        PanelTest::TearDown();
    }
    static QWidget* window() { return uiPanelWidget(pnl); }
    static void tick() { TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0); }
    // Types into a numeric control as an operator does: select all, type,
    // Enter.
    static void type(int id, const QString& text)
    {
        auto* box = widget<NumericControl>(id);
        box->setFocus();
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, text);
        QTest::keyClick(box, Qt::Key_Return);
        QApplication::processEvents();
    }
    // A click where the operator would put it: on a check box's or radio
    // button's box, in the middle of anything else.
    static void click(int id)
    {
        auto* button = widget<QAbstractButton>(id);
        const bool box = qobject_cast<QCheckBox*>(button) || qobject_cast<QRadioButton*>(button);
        QTest::mouseClick(button, Qt::LeftButton, {}, box ? QPoint(8, button->height() / 2) : button->rect().center());
        QApplication::processEvents();
    }
    // The recorded calls since the fake's log was cleared that begin so.
    static std::vector<std::string> callsStartingWith(const std::string& prefix)
    {
        std::vector<std::string> matching;
        for (const std::string& call : calls())
            if (call.rfind(prefix, 0) == 0)
                matching.push_back(call);
        return matching;
    }
    static std::vector<std::string> libraryCalls() { return callsStartingWith("TMI_"); }
    // The voltages written to CH +18V.
    static std::vector<std::string> voltagesWrittenToChannel1() { return callsStartingWith("TMI_Voltage 7 1 "); }
};

TEST_F(PanelTrust, AnEntryOutsideTheRangeOrNotANumberIsRefusedVisiblyAndNeverBecomesAnotherNumber)
{
    struct Case {
        int control;
        const char* typed;
        const char* why;
    };
    // CH +18V takes 0 V to 20 V: 25 and a negative voltage are refused, as
    // are an interval of 5000 s or 0.01 s. A comma is neither a decimal
    // point nor a group of thousands here: "1,5" once became 15 V.
    const std::string notANumber = "not a number (decimals with a point";
    const std::vector<Case> cases = {{PANEL_VSET1, "25", "the range is 0 V to 20 V"},
                                     {PANEL_VSET1, "1.2345", "this field takes 3 decimals"},
                                     {PANEL_VSET1, "nan", notANumber.c_str()},
                                     {PANEL_VSET1, "-5", "the range is 0 V to 20 V"},
                                     {PANEL_VSET2, "3", "the range is -20 V to 0 V"},
                                     {PANEL_INTERVAL, "5000", "the range is 0.05 s to 3600 s"},
                                     {PANEL_INTERVAL, "0.01", "the range is 0.05 s to 3600 s"},
                                     {PANEL_VSET1, "1,5", notANumber.c_str()},
                                     {PANEL_VSET1, "1.5.0", notANumber.c_str()},
                                     {PANEL_INTERVAL, "3,600", notANumber.c_str()}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        auto* box = widget<NumericControl>(c.control);
        SetCtrlVal(pnl, c.control,
                   c.control == PANEL_INTERVAL ? 1.0 : fakeVoltage(c.control == PANEL_VSET1 ? 1 : 2, 2));
        const double before = box->currentValue();
        type(c.control, c.typed);
        EXPECT_EQ(box->currentValue(), before) << "the previous value stays";
        EXPECT_EQ(box->refusedEntry(), c.typed);
        EXPECT_THAT(box->toolTip().toStdString(), HasSubstr(std::string(c.typed) + " was refused: " + c.why));
        EXPECT_TRUE(box->marked());
        // Framed red, the field as high as any other, its rows in line.
        const QImage seen = box->grab().toImage();
        const QColor edge = seen.pixelColor(0, seen.height() / 2);
        EXPECT_GT(edge.red(), 150);
        EXPECT_LT(edge.green(), 80);
        EXPECT_EQ(box->height(), widget<NumericControl>(PANEL_VSET3)->height());
    }
    // A number the field holds exactly is that number, however written.
    auto* volts = widget<NumericControl>(PANEL_VSET1);
    for (const char* typed : {"1.2340", "0.1234e1"}) {
        SCOPED_TRACE(typed);
        type(PANEL_VSET1, typed);
        EXPECT_EQ(volts->currentValue(), 1.234);
        EXPECT_TRUE(volts->refusedEntry().isEmpty());
    }
    SetCtrlVal(pnl, PANEL_VSET1, fakeVoltage(1, 2));
    // Set writes what the field holds, not a number made from the typing.
    gMask = 1;
    clearFakeLog();
    SetCB(pnl, 0, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(libraryCalls().at(1), "TMI_Voltage 7 1 2 " + number(fakeVoltage(1, 2)));
    double interval = 0;
    GetCtrlAttribute(pnl, PANEL_TIMER, ATTR_INTERVAL, &interval);
    EXPECT_EQ(interval, 1.0);
}

TEST_F(PanelTrust, APanelFileBindingAControlToAnotherChannelOrCallbackIsRefusedWithOneLine)
{
    const std::string shipped = readFile(RAILMON_PANEL_FILE);
    // The control's item taken out of its grid and put at the foot of another.
    auto moveItem = [](std::string text, const std::string& widget, const std::string& grid) {
        const size_t at = text.find("name=\"" + widget + "\"");
        const size_t begin = text.rfind("<item", at);
        const size_t end = text.find("</item>", at) + std::string("</item>").size();
        std::string item = text.substr(begin, end - begin);
        text.erase(begin, end - begin);
        item.replace(0, item.find('>') + 1, "<item row=\"6\" column=\"1\">");
        text.insert(text.find("</layout>", text.find("name=\"" + grid + "\"")), item);
        return text;
    };
    auto callback = [&](const std::string& widget, const std::string& name) {
        return setWidgetProperty(shipped, widget, "callback", "<string>" + name + "</string>");
    };
    struct Case {
        const char* what;
        std::string text;
        std::string line;
    };
    const std::vector<Case> cases = {
        // 12 typed under CH +18V and Set wrote +12 V to CH -18V.
        {"setpoint fields' IDs swapped",
         setWidgetProperty(setWidgetProperty(shipped, "vset1", "ctrlId", "<number>11</number>"), "vset2", "ctrlId",
                           "<number>16</number>"),
         "control PANEL_VSET2 (ID 11) is in group 'CH +18V', not in 'CH -18V'"},
        {"a readout in another channel's group", moveItem(shipped, "vmon1", "grid2"),
         "control PANEL_VMON1 (ID 24) is in group 'CH -18V', not in 'CH +18V'"},
        // Set read the button as a switch that is off: the outputs went off.
        {"Set with the main output's callback", callback("setButton", "SwitchOnOffCB"),
         "control PANEL_SET (ID 38): callback SwitchOnOffCB serves a switch, not this QPushButton"},
        {"Read with Exit's callback", callback("readButton", "ExitCB"),
         "control PANEL_READ (ID 37) has callback ExitCB, not ReadCB"},
    };
    const std::string path = workDirectory() + "/panel.uir";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NE(c.text, shipped) << "the edit found nothing to change";
        writeFile(path, c.text);
        testing::internal::CaptureStderr();
        const int handle = LoadPanel(0, path.c_str(), PANEL);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), path + ": " + c.line + "\n");
        EXPECT_EQ(handle, UIE_FORMAT);
        if (handle > 0)
            DiscardPanel(handle);
    }
    writeFile(path, shipped);
    const int again = LoadPanel(0, path.c_str(), PANEL);
    EXPECT_GT(again, 0);
    DiscardPanel(again);
}

TEST_F(PanelTrust, AWheelPassingOverARingOrAFieldChangesNothingUntilTheOperatorWorksInIt)
{
    auto wheel = [](int id, int degrees) {
        auto* control = widget<QWidget>(id);
        const QPointF at = control->rect().center();
        QWheelEvent notch(at, control->mapToGlobal(at), {}, {0, 8 * degrees}, Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(control, &notch);
        QApplication::processEvents();
    };
    auto* preset = widget<QComboBox>(PANEL_PRESET);
    auto* volts = widget<NumericControl>(PANEL_VSET1);
    widget<QWidget>(PANEL_READ)->setFocus();
    const int recalled = preset->currentIndex();
    const double value = volts->currentValue();
    clearFakeLog();
    wheel(PANEL_PRESET, -15); // once recalled the next preset onto the outputs
    wheel(PANEL_VSET1, 15);
    EXPECT_EQ(preset->currentIndex(), recalled);
    EXPECT_EQ(volts->currentValue(), value);
    EXPECT_FALSE(volts->pending());
    EXPECT_THAT(libraryCalls(), testing::IsEmpty());
    // In the field the operator clicked into, the wheel steps it as arrows do.
    volts->setFocus();
    wheel(PANEL_VSET1, 15);
    EXPECT_NE(volts->currentValue(), value);
    EXPECT_TRUE(volts->pending());
}

TEST_F(PanelTrust, NoValueAndAValueOutsideTheRangeStayWhatTheyAreThroughFocusEscapeAndSet)
{
    // Qt reads a field's text back when the focus leaves it; text it cannot
    // read was taken as the range's lower end, and Set wrote 0 V.
    auto* volts = widget<NumericControl>(PANEL_VSET1);
    gMask = 1;
    for (const double held : {std::nan(""), 25.0}) {
        SCOPED_TRACE(held);
        SetCtrlVal(pnl, PANEL_VSET1, held);
        const std::string shown = volts->text().toStdString();
        volts->setFocus();
        QTest::keyClicks(volts, "3");
        QTest::keyClick(volts, Qt::Key_Escape);
        widget<QWidget>(PANEL_READ)->setFocus();
        volts->setFocus();
        EXPECT_EQ(volts->text().toStdString(), shown);
        EXPECT_FALSE(volts->pending());
        clearFakeLog();
        QTest::keySequence(window(), QKeySequence("Ctrl+S"));
        QTest::qWait(250);
        // No value: none written; the supply's own value: that one again.
        for (const std::string& call : voltagesWrittenToChannel1()) {
            EXPECT_FALSE(std::isnan(held)) << call;
            EXPECT_THAT(call, testing::EndsWith(" " + number(held)));
        }
    }
    // An arrow from the value outside lands at the nearest limit, as an edit.
    for (const Qt::Key arrow : {Qt::Key_Up, Qt::Key_Down}) {
        SetCtrlVal(pnl, PANEL_VSET1, 25.0);
        QTest::keyClick(volts, arrow);
        EXPECT_EQ(volts->text().toStdString(), "20.000 V");
        EXPECT_EQ(volts->currentValue(), 20.0);
        EXPECT_TRUE(volts->pending());
        EXPECT_TRUE(volts->refusedEntry().isEmpty());
    }
}

TEST_F(PanelTrust, AnEditIsPendingUntilSetWritesItAndTheReadBackAgreesAtTheShownDecimals)
{
    auto* vset = widget<NumericControl>(PANEL_VSET1);
    // What the operator sees at the end of the field, past its text.
    auto fieldColour = [vset] {
        const QRect edit = vset->findChild<QLineEdit*>()->geometry();
        return vset->grab().toImage().pixelColor(edit.right() - 2, edit.center().y());
    };
    const QColor unmarked = fieldColour();
    clearFakeLog();
    type(PANEL_VSET1, "5.5");
    EXPECT_TRUE(vset->pending()) << "Enter alone writes nothing";
    EXPECT_EQ(fieldColour(), QColor(0xcf, 0xe3, 0xff)) << "pale blue";
    EXPECT_THAT(libraryCalls(), testing::IsEmpty());
    EXPECT_THAT(vset->toolTip().toStdString(), HasSubstr("not yet written"));

    // Set skips a disabled channel: its edit stays pending.
    click(PANEL_ENABLE1);
    SetCB(pnl, 0, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_TRUE(vset->pending());

    // The supply keeps 5.4999 V (its resolution is 0.3 mV): equal at the
    // three decimals the control shows, so the edit is written and agreed.
    setenv("TMI_FAKE_RESOLUTION", "0.0003", 1);
    click(PANEL_ENABLE1);
    SetCB(pnl, 0, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_FALSE(vset->pending());
    EXPECT_FALSE(vset->marked()) << vset->toolTip().toStdString();
    EXPECT_EQ(fieldColour(), unmarked);
    EXPECT_EQ(vset->currentValue(), 5.5);
}

TEST_F(PanelTrust, ModeLampsShowNoModeUntilAReadingAndTellCvCcOffAndUnknownCodesApart)
{
    for (int ch = 0; ch < CHANNELS; ++ch) {
        auto* lamp = widget<RingIndicator>(cvcc[ch]);
        EXPECT_FALSE(lamp->hasValue()) << ch;
        EXPECT_EQ(lamp->text(), "---");
    }
    setenv("TMI_FAKE_CVCC", "0,1,2,77", 1);
    gMask = 15;
    tick();
    QSet<QRgb> colours;
    for (int ch = 0; ch < CHANNELS; ++ch)
        colours.insert(widget<RingIndicator>(cvcc[ch])->grab().toImage().pixel(4, 4));
    EXPECT_EQ(colours.size(), 4) << "CV, CC, OFF and an unknown code share a colour";
    EXPECT_EQ(widget<RingIndicator>(cvcc[0])->text(), "CV");
    EXPECT_EQ(widget<RingIndicator>(cvcc[1])->text(), "CC");
    EXPECT_EQ(widget<RingIndicator>(cvcc[2])->text(), "OFF");
    EXPECT_EQ(widget<RingIndicator>(cvcc[3])->text(), "77");

    setenv("TMI_FAKE_MONI_FAIL", "1", 1);
    tick();
    EXPECT_FALSE(widget<RingIndicator>(cvcc[0])->hasValue()) << "a reading that did not come has no mode";
}

TEST_F(PanelTrust, ReadoutsGreyWhenTheyNoLongerShowTheOutputsUntilTheirNextReading)
{
    auto stale = [](int ch) {
        return widget<Readout>(vmon[ch])->stale() && widget<Readout>(imon[ch])->stale() &&
            widget<Readout>(cvcc[ch])->stale();
    };
    auto fresh = [](int ch) {
        return !widget<Readout>(vmon[ch])->stale() && !widget<Readout>(imon[ch])->stale() &&
            !widget<Readout>(cvcc[ch])->stale();
    };
    gMask = 15;
    tick();
    EXPECT_TRUE(fresh(0) && fresh(3));
    // A lamp's mode colour fades with it: a grey lamp says no mode.
    auto lampSaturation = [](int ch) {
        QWidget* lamp = widget<QWidget>(cvcc[ch]);
        return lamp->grab().toImage().pixelColor(lamp->width() / 8, lamp->height() / 2).hsvSaturation();
    };
    const int freshSaturation = lampSaturation(0);
    SetCB(pnl, 0, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_TRUE(stale(0) && stale(3)) << "after Set";
    EXPECT_GT(freshSaturation, 100);
    EXPECT_LT(lampSaturation(0), 60);
    tick();
    EXPECT_TRUE(fresh(0) && fresh(3));
    SetPresetCB(pnl, PANEL_PRESET, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_TRUE(stale(0) && stale(3)) << "after a preset recall";
    tick();
    click(PANEL_MAINOUTPUT);
    EXPECT_TRUE(stale(1)) << "after switching the main output";
    tick();
    click(PANEL_ENABLE2);
    tick();
    EXPECT_TRUE(stale(1)) << "a disabled channel is not read";
    EXPECT_TRUE(fresh(0));

    // A tick that comes long after the last one (the loop was held) greys
    // what the ticks showed before its sweep begins.
    click(PANEL_ENABLE2);
    SetCtrlAttribute(pnl, PANEL_TIMER, ATTR_INTERVAL, 0.02);
    std::vector<bool> staleAtFirstWrite;
    uiTestHooks().valueSet = [&](int, int control, double) {
        if (control == vmon[0])
            staleAtFirstWrite.push_back(widget<Readout>(cvcc[3])->stale());
    };
    ResumeTimerCallbacks();
    QTimer hold, end;
    hold.setSingleShot(true);
    end.setSingleShot(true);
    QObject::connect(&hold, &QTimer::timeout, [] { std::this_thread::sleep_for(std::chrono::milliseconds(1300)); });
    QObject::connect(&end, &QTimer::timeout, [] { QuitUserInterface(0); });
    hold.start(100);
    end.start(1600);
    RunUserInterface();
    SuspendTimerCallbacks();
    ASSERT_GE(staleAtFirstWrite.size(), 3u);
    EXPECT_FALSE(staleAtFirstWrite.front());
    EXPECT_EQ(std::count(staleAtFirstWrite.begin(), staleAtFirstWrite.end(), true), 1)
        << "only the tick after the hold starts from stale readouts";
}

TEST_F(PanelTrust, StatusLineTellsTheReadingsAndTheLogAsTheyAre)
{
    gMask = 3;
    tick();
    EXPECT_THAT(statusText(PANEL_STATUS_READINGS), StartsWith("Readings at "));
    setenv("TMI_FAKE_MONI_FAIL", "1", 1);
    tick();
    EXPECT_THAT(statusText(PANEL_STATUS_READINGS), StartsWith("No readings since "));
    EXPECT_THAT(statusText(PANEL_STATUS_READINGS), HasSubstr("the supply answers nothing"));
    unsetenv("TMI_FAKE_MONI_FAIL");

    click(PANEL_LOGTOFILE);
    tick();
    tick();
    EXPECT_EQ(statusText(PANEL_STATUS_LOG),
              "Logging: 4 records to " + std::filesystem::current_path().string() + "/railmon.log");

    // A log that cannot be written is on show with its reason until it can.
    LogClose();
    gFp = nullptr;
    std::filesystem::remove("railmon.log");
    mkfifo("railmon.log", 0644);
    testing::internal::CaptureStdout();
    tick();
    testing::internal::GetCapturedStdout();
    EXPECT_THAT(statusText(PANEL_STATUS_LOG),
                StartsWith("Log: Cannot open " + std::filesystem::current_path().string() +
                           "/railmon.log: it is a FIFO"));
    EXPECT_NE(widget<TextMessage>(PANEL_STATUS_LOG)->grab().toImage().pixelColor(6, 6),
              widget<TextMessage>(PANEL_STATUS_READINGS)->grab().toImage().pixelColor(6, 6))
        << "the failure is not marked";
    std::filesystem::remove("railmon.log");
    testing::internal::CaptureStdout();
    tick();
    testing::internal::GetCapturedStdout();
    EXPECT_THAT(statusText(PANEL_STATUS_LOG), HasSubstr("railmon.log; 1 tick not logged"));
}

TEST_F(PanelTrust, ShortcutsReadSetAndExitAndTheTooltipsSayThem)
{
    struct Case {
        int control;
        QKeySequence keys;
        const char* call;
    };
    for (const Case& c : {Case{PANEL_READ, QKeySequence("Ctrl+R"), "TMI_MoniDataQ 7 1"},
                          Case{PANEL_SET, QKeySequence("Ctrl+S"), "TMI_PresetQ 7"}}) {
        SCOPED_TRACE(c.call);
        clearFakeLog();
        QTest::keySequence(window(), c.keys);
        QTest::qWait(250); // a shortcut presses its button visibly first
        EXPECT_THAT(libraryCalls(), testing::Contains(c.call));
        EXPECT_THAT(widget<QWidget>(c.control)->toolTip().toStdString(), HasSubstr(c.keys.toString().toStdString()));
    }
    EXPECT_THAT(widget<QWidget>(PANEL_EXIT)->toolTip().toStdString(), HasSubstr("Ctrl+Q"));

    // Ctrl+S while the focus is still in a field being typed into (no Enter)
    // writes the number the field shows; a number out of range is refused
    // there as on Enter and the value before it is written.
    gMask = 1;
    auto* box = widget<NumericControl>(PANEL_VSET1);
    // Escape abandons what was typed: the value before it is written.
    struct Typing {
        const char* typed;
        bool escape;
        double written;
    };
    for (const auto& [typed, escape, written] :
         {Typing{"9", false, 9.0}, Typing{"25", false, 9.0}, Typing{"2", true, 9.0}}) {
        SCOPED_TRACE(typed);
        box->setFocus();
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, typed);
        if (escape) {
            QTest::keyClick(box, Qt::Key_Escape);
            EXPECT_EQ(box->text().toStdString(), "9.000 V");
        }
        clearFakeLog();
        QTest::keySequence(window(), QKeySequence("Ctrl+S"));
        QTest::qWait(250);
        EXPECT_THAT(libraryCalls(), testing::Contains(StartsWith("TMI_Voltage 7 1 ")));
        for (const std::string& call : voltagesWrittenToChannel1())
            EXPECT_THAT(call, testing::EndsWith(" " + number(written)));
        EXPECT_EQ(box->refusedEntry().toStdString(), typed == std::string("25") ? "25" : "");
    }

    QTimer press, giveUp;
    press.setSingleShot(true);
    giveUp.setSingleShot(true);
    QObject::connect(&press, &QTimer::timeout, [] { QTest::keySequence(window(), QKeySequence("Ctrl+Q")); });
    QObject::connect(&giveUp, &QTimer::timeout, [] { QuitUserInterface(1); });
    press.start(50);
    giveUp.start(3000);
    EXPECT_EQ(RunUserInterface(), 0) << "Ctrl+Q did not end the loop";
}

TEST_F(PanelTrust, AtTheDefaultAndTheSmallestSizeNothingIsClippedOrOverlaps)
{
    gMask = 15;
    // Armed (CH +18V and CH +6V), then tripped by CH +6V: the longest texts
    // the protection marks, the status field and the switch show.
    const std::string configHome = workDirectory() + "/config";
    const char* wasConfigHome = std::getenv("XDG_CONFIG_HOME");
    const std::string previousConfigHome = wasConfigHome ? wasConfigHome : "";
    setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    ProtectionSetUp(pnl);
    std::string why;
    ProtectionSetLevel(0, PROTECT_VOLTAGE, 18.5, why);
    ProtectionArm(0, PROTECT_VOLTAGE, true);
    ProtectionArm(2, PROTECT_CC, true);
    SetCtrlVal(pnl, PANEL_TIMERONOFF, 1);
    setenv("TMI_FAKE_CVCC", "0,0,0,0", 1);
    tick();
    const QSize defaultSize = window()->size();
    for (const char* state : {"armed", "tripped"})
        for (const QSize& size : {defaultSize, window()->minimumSizeHint()}) {
            if (state == std::string("tripped") && !ProtectionTripped().tripped) {
                setenv("TMI_FAKE_CVCC", "0,0,1,0", 1);
                tick();
            }
            SCOPED_TRACE(std::string(state) + " " + std::to_string(size.width()) + "x" + std::to_string(size.height()));
            window()->resize(size);
            QApplication::processEvents();
            // Kept beside the build's programs, to look at.
            window()->grab().save(
                QStringLiteral(RAILMON_BIN_DIR "/panel-%1-%2x%3.png").arg(state).arg(size.width()).arg(size.height()));
            QList<QWidget*> all;
            for (QWidget* w : window()->findChildren<QWidget*>())
                if (w->isVisible() && !w->objectName().isEmpty() && !w->objectName().startsWith("qt_"))
                    all << w;
            for (QWidget* w : all) {
                const std::string name = w->objectName().toStdString();
                // Inside its parent, and as large as it asks to be at least.
                EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry())) << name << " is cut by its parent";
                if (w->property("ctrlId").isValid() && !qobject_cast<TextMessage*>(w)) {
                    EXPECT_GE(w->width(), w->minimumSizeHint().width()) << name;
                    EXPECT_GE(w->height(), w->minimumSizeHint().height()) << name;
                }
                if (auto* label = qobject_cast<QLabel*>(w)) {
                    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->contentsRect().width())
                        << name << ": its text is cut";
                }
                if (auto* readout = qobject_cast<Readout*>(w); readout && !qobject_cast<TextMessage*>(w)) {
                    const QFontMetrics metrics(readout->shownFont());
                    EXPECT_LE(metrics.horizontalAdvance(readout->text()), readout->textRoom())
                        << name << ": its text is cut";
                    // And painted in that font: its ink as tall as the font's letters.
                    const QImage painted = readout->grab().toImage();
                    const QColor ink = readout->palette().color(QPalette::WindowText);
                    const QRect inside = readout->contentsRect();
                    int inkRows = 0;
                    for (int y = inside.top(); y <= inside.bottom(); ++y)
                        for (int x = inside.left(); x <= inside.right(); ++x)
                            if (painted.pixelColor(x, y) == ink || painted.pixelColor(x, y) == Qt::white) {
                                ++inkRows;
                                break;
                            }
                    // (A stale readout is greyed, not painted in the ink.)
                    if (readout->text() != "---" && !readout->stale()) {
                        EXPECT_GE(inkRows, metrics.capHeight() * 8 / 10) << name << ": painted smaller than shown";
                    }
                }
                // No sibling covers another.
                for (QWidget* other : all) {
                    if (other != w && other->parentWidget() == w->parentWidget()) {
                        EXPECT_FALSE(w->geometry().intersects(other->geometry()))
                            << name << " overlaps " << other->objectName().toStdString();
                    }
                }
            }
        }
    EXPECT_EQ(statusText(PANEL_PROTECT3), "TRIPPED CC");
    ProtectionClear("the test");
    for (int ch = 0; ch < CHANNELS; ++ch)
        for (int limit = 0; limit < PROTECT_LIMITS; ++limit)
            ProtectionArm(ch, static_cast<ProtectionLimit>(limit), false);
    unsetenv("TMI_FAKE_CVCC");
    if (wasConfigHome)
        setenv("XDG_CONFIG_HOME", previousConfigHome.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    // Readouts read from a step away, and grow with the window.
    window()->resize(defaultSize);
    QApplication::processEvents();
    const int atDefault = widget<Readout>(vmon[0])->shownFont().pixelSize();
    EXPECT_GE(atDefault, 24);
    window()->resize(defaultSize * 1.5);
    QApplication::processEvents();
    EXPECT_GT(widget<Readout>(vmon[0])->shownFont().pixelSize(), atDefault);
}
