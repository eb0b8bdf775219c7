// Set, preset recall, the main output switch and the channel enable buttons.
#include "panel_fixture.h"

#include "numeric_control.h"
#include "output_switch.h"

#include <QComboBox>
#include <QDoubleSpinBox>

#include <cmath>
#include <string>
#include <vector>

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;

namespace {

std::vector<std::string> setChannel(int ch, int preset, double volts, double amps)
{
    const std::string n = std::to_string(ch + 1), p = std::to_string(preset);
    return {"TMI_Voltage 7 " + n + " " + p + " " + PanelTest::number(volts), "TMI_VoltageQ 7 " + n + " " + p,
            "TMI_Current 7 " + n + " " + p + " " + PanelTest::number(amps), "TMI_CurrentQ 7 " + n + " " + p};
}

} // namespace

class OutputControl : public PanelTest {
protected:
    // What an operator typed into channel index ch, of the channel's polarity.
    static double entered(int ch, bool volts) { return volts ? fakeSign(ch + 1) * (1.5 + ch) : 0.25 + ch / 10.0; }
    void enterSetpoints()
    {
        for (int ch = 0; ch < CHANNELS; ++ch) {
            SetCtrlVal(pnl, vset[ch], entered(ch, true));
            SetCtrlVal(pnl, iset[ch], entered(ch, false));
        }
        clearFakeLog();
    }
    static double shown(int control)
    {
        double value = 0;
        GetCtrlVal(pnl, control, &value);
        return value;
    }
    static bool marked(int control)
    {
        if (auto* output = qobject_cast<OutputSwitch*>(uiControlObject(pnl, control)))
            return output->programColour() >= 0;
        if (auto* numeric = qobject_cast<NumericControl*>(uiControlObject(pnl, control)))
            return numeric->marked();
        return !qobject_cast<QWidget*>(uiControlObject(pnl, control))->styleSheet().isEmpty();
    }
    static QString tooltip(int control) { return qobject_cast<QWidget*>(uiControlObject(pnl, control))->toolTip(); }
};

TEST_F(OutputControl, SetWritesEnabledChannelsIntoTheSuppliesActivePresetAndReadsEachBack)
{
    const std::map<int, std::vector<int>> masks = {{0, {}}, {4, {2}}, {15, {0, 1, 2, 3}}};
    setenv("TMI_FAKE_PRESET", "3", 1);
    for (const auto& [mask, channels] : masks) {
        SCOPED_TRACE(mask);
        SetCtrlVal(pnl, PANEL_PRESET, 1); // the selector shows another preset
        enterSetpoints();
        gMask = mask;
        SetCB(pnl, controlId("SetCB"), EVENT_COMMIT, nullptr, 0, 0);
        std::vector<std::string> expected = {"TMI_PresetQ 7", "SetCtrlVal " + std::to_string(PANEL_PRESET) + " 3"};
        for (int ch : channels)
            expected = concat(expected, setChannel(ch, 3, entered(ch, true), entered(ch, false)));
        EXPECT_THAT(calls(), ElementsAreArray(expected));
        EXPECT_EQ(shown(PANEL_PRESET), 3);
    }
}

TEST_F(OutputControl, SetKeepsTheOperatorsValuesAndMarksThoseTheSupplyDidNotTake)
{
    setenv("TMI_FAKE_CLAMP", "2", 1); // the fake holds at most 2 (V or A)
    enterSetpoints();
    SetCB(pnl, 0, EVENT_COMMIT, nullptr, 0, 0);
    for (int ch = 0; ch < CHANNELS; ++ch) {
        EXPECT_EQ(shown(vset[ch]), entered(ch, true)) << ch;
        EXPECT_EQ(shown(iset[ch]), entered(ch, false)) << ch;
        EXPECT_EQ(marked(vset[ch]), std::fabs(entered(ch, true)) > 2) << ch;
        EXPECT_FALSE(marked(iset[ch])) << ch;
    }
    EXPECT_EQ(tooltip(vset[1]), "The supply holds -2 V");

    // Once the supply takes the value shown, the mark goes.
    SetCtrlVal(pnl, vset[1], -1.75);
    SetCB(pnl, 0, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_FALSE(marked(vset[1]));
    EXPECT_EQ(tooltip(vset[1]), "");
    EXPECT_TRUE(marked(vset[2])) << "still not taken";
}

TEST_F(OutputControl, MarksADisabledChannelOnlyWhenItIsSetAgain)
{
    setenv("TMI_FAKE_CLAMP", "2", 1);
    enterSetpoints();
    SetCB(pnl, 0, EVENT_COMMIT, nullptr, 0, 0);
    ASSERT_TRUE(marked(vset[3]));
    gMask = 7;
    SetCtrlVal(pnl, vset[3], -1.0);
    SetCB(pnl, 0, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_TRUE(marked(vset[3])) << "a skipped channel was not written, so nothing is known";
}

TEST_F(OutputControl, PresetRecallFillsAllFourChannelsAndRederivesTheLowMaskBits)
{
    setenv("TMI_FAKE_CLAMP", "2", 1);
    enterSetpoints();
    SetCB(pnl, 0, EVENT_COMMIT, nullptr, 0, 0); // leaves marks behind
    SetCtrlVal(pnl, radiob[0], 0);
    SetCtrlVal(pnl, radiob[2], 0);
    gMask = 0x70 | 0x0A; // high bits must survive; low bits must follow the buttons
    auto* selector = qobject_cast<QComboBox*>(control(PANEL_PRESET));
    clearFakeLog();
    selector->setCurrentIndex(selector->findData(4));
    emit selector->activated(selector->currentIndex());

    std::vector<std::string> expected = {"TMI_Preset 7 4"};
    for (int ch = 0; ch < CHANNELS; ++ch) {
        const std::string n = std::to_string(ch + 1);
        expected = concat(expected,
                          std::vector<std::string>{"TMI_VoltageQ 7 " + n + " 4", "TMI_CurrentQ 7 " + n + " 4",
                                                   "SetCtrlVal " + std::to_string(vset[ch]) + " " +
                                                       number(fakeVoltage(ch + 1, 4)),
                                                   "SetCtrlVal " + std::to_string(iset[ch]) + " " +
                                                       number(fakeCurrent(ch + 1, 4))});
    }
    EXPECT_THAT(calls(), ElementsAreArray(expected));
    EXPECT_EQ(gMask, 0x70 | 0x0A);
    for (int ch = 0; ch < CHANNELS; ++ch) {
        EXPECT_EQ(shown(vset[ch]), fakeVoltage(ch + 1, 4));
        EXPECT_FALSE(marked(vset[ch])) << "the panel now shows what the supply holds";
    }

    SetCtrlVal(pnl, radiob[0], 1);
    SetCtrlVal(pnl, radiob[1], 0);
    gMask = 0x100;
    SetPresetCB(pnl, PANEL_PRESET, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(gMask, 0x100 | 0x09);
}

TEST_F(OutputControl, PresetRecallWithoutAnswerShowsNoValueMarksItAndSetWritesNoneOfIt)
{
    enterSetpoints();
    auto* voltageQuery = TMI_VoltageQ;
    TMI_VoltageQ = nullptr; // as after a binding that stopped early
    SetPresetCB(pnl, PANEL_PRESET, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_TRUE(std::isnan(shown(vset[0]))) << "not the previous preset's value";
    EXPECT_TRUE(marked(vset[0]));
    EXPECT_EQ(tooltip(vset[0]), "The supply reported no setpoint; Set writes none until you enter one");
    EXPECT_FALSE(marked(iset[0]));

    // Set writes no voltage the supply never gave, makes the channel's other
    // calls, and shows the read-back once the supply answers.
    TMI_VoltageQ = voltageQuery;
    gMask = 1;
    const double current = shown(iset[0]);
    clearFakeLog();
    SetCB(pnl, 0, EVENT_COMMIT, nullptr, 0, 0);
    std::vector<std::string> libraryCalls;
    for (const std::string& call : calls())
        if (call.rfind("TMI_", 0) == 0)
            libraryCalls.push_back(call);
    EXPECT_THAT(libraryCalls,
                ElementsAre("TMI_PresetQ 7", "TMI_VoltageQ 7 1 2", "TMI_Current 7 1 2 " + number(current),
                            "TMI_CurrentQ 7 1 2"));
    EXPECT_EQ(shown(vset[0]), fakeVoltage(1, 2));
    EXPECT_FALSE(marked(vset[0]));
}

TEST_F(OutputControl, MainOutputSwitchPassesItsValueUnchangedThenShowsWhatTheSupplyReports)
{
    auto* output = qobject_cast<QAbstractButton*>(control(PANEL_MAINOUTPUT));
    SetCtrlVal(pnl, PANEL_MAINOUTPUT, 0);
    clearFakeLog();
    output->click();
    output->click();
    const std::string shows = "SetCtrlVal " + std::to_string(PANEL_MAINOUTPUT) + " ";
    EXPECT_THAT(calls(),
                testing::ElementsAre("TMI_MainOutput 7 1", "TMI_MainOutputQ 7", shows + "1", "TMI_MainOutput 7 0",
                                     "TMI_MainOutputQ 7", shows + "0"));
    EXPECT_FALSE(marked(PANEL_MAINOUTPUT));

    // A supply whose output does not follow, and one that answers nothing:
    // the switch shows the supply's state, or no state, and is marked.
    setenv("TMI_FAKE_MAINOUT_STUCK", "1", 1);
    setenv("TMI_FAKE_MAINOUT", "0", 1);
    output->click();
    EXPECT_EQ(shown(PANEL_MAINOUTPUT), 0);
    EXPECT_EQ(output->text(), "OFF");
    EXPECT_EQ(tooltip(PANEL_MAINOUTPUT).split('\n').first(), "Switched to 1; the supply reports 0");
    setenv("TMI_FAKE_SILENT", "TMI_MainOutputQ", 1);
    output->click();
    EXPECT_TRUE(std::isnan(shown(PANEL_MAINOUTPUT)));
    EXPECT_EQ(output->text(), "?");
    EXPECT_EQ(tooltip(PANEL_MAINOUTPUT).split('\n').first(), "No state known: the instrument reported none.");
    EXPECT_THAT(tooltip(PANEL_MAINOUTPUT).toStdString(), testing::HasSubstr("the supply did not confirm any state"));
    unsetenv("TMI_FAKE_SILENT");
    unsetenv("TMI_FAKE_MAINOUT_STUCK");
    unsetenv("TMI_FAKE_MAINOUT");
}

TEST_F(OutputControl, EnableButtonsSetOrClearOnlyTheirOwnBitAndSendNothing)
{
    auto* enable1 = qobject_cast<QAbstractButton*>(control(radiob[1]));
    enable1->click(); // off
    EXPECT_EQ(gMask, 13);
    SetMaskCB(pnl, radiob[1], EVENT_COMMIT, nullptr, 0, 0); // repeated commit
    EXPECT_EQ(gMask, 13);
    enable1->click(); // on
    EXPECT_EQ(gMask, 15);
    SetMaskCB(pnl, PANEL_INTERVAL, EVENT_COMMIT, nullptr, 0, 0); // not an enable button
    EXPECT_EQ(gMask, 15);
    EXPECT_THAT(calls(), IsEmpty());

    // The next read and Set skip the disabled channel.
    enable1->click();
    ReadCB(pnl, 0, EVENT_COMMIT, nullptr, 0, 0);
    SetCB(pnl, 0, EVENT_COMMIT, nullptr, 0, 0);
    for (const std::string& call : calls())
        EXPECT_THAT(call, testing::Not(testing::MatchesRegex("TMI_[A-Za-z]+ 7 2( .*)?"))) << call;
}

TEST_F(OutputControl, CallbacksIgnoreEventsOtherThanCommit)
{
    for (int event : {0, 2, 3, 15}) {
        SetCB(pnl, 0, event, nullptr, 0, 0);
        SetPresetCB(pnl, PANEL_PRESET, event, nullptr, 0, 0);
        SwitchOnOffCB(pnl, PANEL_MAINOUTPUT, event, nullptr, 0, 0);
        SetMaskCB(pnl, radiob[0], event, nullptr, 0, 0);
    }
    SetCtrlVal(pnl, radiob[0], 0);
    clearFakeLog();
    SetMaskCB(pnl, radiob[0], 2, nullptr, 0, 0);
    EXPECT_THAT(calls(), IsEmpty());
    EXPECT_EQ(gMask, 15);
}
