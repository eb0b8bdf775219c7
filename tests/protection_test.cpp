// Protection from railmon's readings: the trip's off call, the latch, the
// clear, trip on CC, both polarities, and the levels kept in the user's
// configuration.
#include "panel_fixture.h"

#include "output_switch.h"
#include "protection.h"
#include "protection_file.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using testing::HasSubstr;
using testing::MatchesRegex;

class Protection : public PanelTest {
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        if (const char* was = std::getenv("XDG_CONFIG_HOME"))
            previousConfigHome_ = was;
        configHome_ = workDirectory() + "/config";
        setenv("XDG_CONFIG_HOME", configHome_.c_str(), 1);
        uiTestHooks().popup = [this](const std::string& title, const std::string& message) {
            popups_.push_back(title + "|" + message);
        };
        uiTestHooks().confirm = [this](const std::string&, const std::string& message) {
            confirmed_.push_back(message);
            return answer_;
        };
        ProtectionSetUp(pnl);
        gMask = 15;
    }
    void TearDown() override
    {
        ProtectionClear("the test");
        for (int ch = 0; ch < CHANNELS; ++ch)
            for (int limit = 0; limit < PROTECT_LIMITS; ++limit)
                ProtectionArm(ch, static_cast<ProtectionLimit>(limit), false);
        uiTestHooks().popup = nullptr;
        uiTestHooks().confirm = nullptr;
        unsetenv("TMI_FAKE_MONI_VOLTS");
        unsetenv("TMI_FAKE_CVCC");
        if (previousConfigHome_.empty())
            unsetenv("XDG_CONFIG_HOME");
        else
            setenv("XDG_CONFIG_HOME", previousConfigHome_.c_str(), 1);
        PanelTest::TearDown();
    }

    static void tick() { TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0); }
    static void switchOn()
    {
        SetCtrlVal(pnl, PANEL_MAINOUTPUT, 1);
        SwitchOnOffCB(pnl, PANEL_MAINOUTPUT, EVENT_COMMIT, nullptr, 0, 0);
    }
    // The library's calls only, without the panel's writes noted between them.
    static std::vector<std::string> libraryCalls()
    {
        std::vector<std::string> library;
        for (const std::string& line : calls())
            if (line.rfind("TMI_", 0) == 0)
                library.push_back(line);
        return library;
    }
    static std::string switchText()
    {
        return qobject_cast<OutputSwitch*>(uiControlObject(pnl, PANEL_MAINOUTPUT))->text().toStdString();
    }
    std::string configFile() const { return configHome_ + "/railmon/protection.conf"; }

    std::string configHome_, previousConfigHome_;
    std::vector<std::string> popups_, confirmed_;
    int answer_ = 0;
};

TEST_F(Protection, AnArmedLimitSwitchesOffWithTheNextCallLatchesAndIsClearedOnlyOnPurpose)
{
    std::string why;
    ASSERT_TRUE(ProtectionSetLevel(2, PROTECT_CURRENT, 0.02, why)) << why; // CH +6V reads 0.031 A
    ProtectionArm(2, PROTECT_CURRENT, true);
    // A disabled channel is not watched, whatever it reads.
    gMask = 15 & ~(1 << 2);
    switchOn();
    clearFakeLog();
    tick();
    ReadCB(pnl, PANEL_READ, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_THAT(libraryCalls(), testing::Not(testing::Contains(testing::StartsWith("TMI_MainOutput"))));
    EXPECT_EQ(statusText(PANEL_STATUS_PROTECT), "Protection waiting for readings: CH +6V is not enabled");

    gMask = 15;
    clearFakeLog();
    tick();
    std::vector<std::string> library = libraryCalls();
    const auto reading = std::find(library.begin(), library.end(), "TMI_MoniDataQ 7 3");
    ASSERT_NE(reading, library.end());
    ASSERT_GE(library.end() - reading, 3);
    EXPECT_EQ(reading[1], "TMI_MainOutput 7 0");
    EXPECT_EQ(reading[2], "TMI_MainOutputQ 7");
    // The rest of the tick as before: the last channel read, both charts fed.
    EXPECT_THAT(std::vector<std::string>(reading + 3, library.end()), testing::Contains("TMI_MoniDataQ 7 4"));
    const std::vector<std::string> all = calls();
    EXPECT_EQ(std::count_if(all.begin(), all.end(),
                            [](const std::string& l) { return l.rfind("PlotStripChart", 0) == 0; }),
              2);
    EXPECT_THAT(statusText(PANEL_STATUS_PROTECT),
                MatchesRegex("Tripped: CH \\+6V 0\\.031 A > 0\\.020 A at [0-9]{2}:[0-9]{2}:[0-9]{2}"));
    EXPECT_EQ(statusColour(PANEL_STATUS_PROTECT), VAL_ERROR_COLOR);
    EXPECT_EQ(statusText(PANEL_PROTECT3), "TRIPPED OCP");
    EXPECT_EQ(switchText(), "OFF\nTRIPPED");

    // Latched: later readings call nothing more, and the switch refuses ON,
    // saying why before anything is cleared.
    clearFakeLog();
    tick();
    switchOn();
    EXPECT_THAT(libraryCalls(), testing::Not(testing::Contains(testing::StartsWith("TMI_MainOutput "))));
    ASSERT_EQ(confirmed_.size(), 1u);
    EXPECT_THAT(confirmed_[0], HasSubstr("Tripped: CH +6V 0.031 A > 0.020 A"));
    EXPECT_TRUE(ProtectionTripped().tripped);
    EXPECT_EQ(switchText(), "OFF\nTRIPPED");

    // Cleared by the button once confirmed; the outputs stay off until the
    // operator switches them on.
    answer_ = 1;
    clearFakeLog();
    ClearTripCB(pnl, PANEL_CLEARTRIP, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_FALSE(ProtectionTripped().tripped);
    EXPECT_TRUE(libraryCalls().empty());
    EXPECT_EQ(switchText(), "OFF");
    ProtectionArm(2, PROTECT_CURRENT, false);
    switchOn();
    EXPECT_THAT(libraryCalls(), testing::ElementsAre("TMI_MainOutput 7 1", "TMI_MainOutputQ 7"));

    // A supply that still reports its outputs on is not taken as off: it is
    // said, and told again at the tripping channel's next reading.
    setenv("TMI_FAKE_MAINOUT_STUCK", "1", 1);
    setenv("TMI_FAKE_MAINOUT", "1", 1);
    ProtectionArm(2, PROTECT_CURRENT, true);
    tick();
    EXPECT_THAT(statusText(PANEL_STATUS_PROTECT), HasSubstr("; the supply does not confirm its outputs off"));
    clearFakeLog();
    tick();
    library = libraryCalls();
    const auto again = std::find(library.begin(), library.end(), "TMI_MoniDataQ 7 1");
    ASSERT_NE(again, library.end());
    EXPECT_EQ(again[1], "TMI_MainOutput 7 0");
    // Even with the tripping channel no longer read, and a clear refused
    // until the supply confirms: the latch is all that holds the outputs.
    gMask = 1;
    clearFakeLog();
    tick();
    EXPECT_THAT(libraryCalls(), testing::Contains("TMI_MainOutput 7 0"));
    popups_.clear();
    ClearTripCB(pnl, PANEL_CLEARTRIP, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_TRUE(ProtectionTripped().tripped);
    ASSERT_EQ(popups_.size(), 1u);
    EXPECT_THAT(popups_[0],
                HasSubstr("It cannot be cleared: the supply does not confirm its outputs off (it reports 1)"));
    unsetenv("TMI_FAKE_MAINOUT_STUCK");
    unsetenv("TMI_FAKE_MAINOUT");
}

TEST_F(Protection, TripsOnCCAndOnEitherPolarityByMagnitude)
{
    struct Case {
        const char* volts; // every channel's reading, when set
        const char* codes;
        int ch;
        ProtectionLimit limit;
        double level;
        const char* says;
    };
    for (const Case& c : {
             Case{nullptr, "0,0,0,1", 3, PROTECT_CC, 0, "Tripped: CH -6V in CC at 0.0410 A at "},
             Case{"-5.0", "0,0,0,0", 1, PROTECT_VOLTAGE, 4.5, "Tripped: CH -18V -5.000 V < -4.500 V at "},
             Case{"5.0", "0,0,0,0", 0, PROTECT_VOLTAGE, 4.5, "Tripped: CH +18V 5.000 V > 4.500 V at "},
             // Equal at the level's decimals: shown with one more.
             Case{"4.5004", "0,0,0,0", 0, PROTECT_VOLTAGE, 4.5, "Tripped: CH +18V 4.5004 V > 4.5000 V at "},
         }) {
        SCOPED_TRACE(c.says);
        if (c.volts)
            setenv("TMI_FAKE_MONI_VOLTS", c.volts, 1);
        setenv("TMI_FAKE_CVCC", c.codes, 1);
        std::string why;
        if (c.limit != PROTECT_CC) {
            ASSERT_TRUE(ProtectionSetLevel(c.ch, c.limit, c.level, why)) << why;
        }
        // Another channel's reading beyond the same level trips nothing:
        // only the armed channel is watched.
        ProtectionArm(c.ch, c.limit, true);
        switchOn();
        clearFakeLog();
        tick();
        EXPECT_THAT(ProtectionTripText(), testing::StartsWith(c.says));
        EXPECT_EQ(ProtectionTripped().ch, c.ch);
        answer_ = 1;
        ProtectionConfirmClear();
        ProtectionArm(c.ch, c.limit, false);
        unsetenv("TMI_FAKE_MONI_VOLTS");
    }
    // A reading without the number an armed limit needs is not claimed as
    // watched.
    setenv("TMI_FAKE_MONI_VOLTS", "nan", 1);
    SetCtrlVal(pnl, PANEL_TIMERONOFF, 1);
    ProtectionArm(0, PROTECT_VOLTAGE, true);
    tick();
    EXPECT_EQ(statusText(PANEL_STATUS_PROTECT), "Protection waiting for readings: nothing to check from CH +18V");
    ProtectionArm(0, PROTECT_VOLTAGE, false);
    unsetenv("TMI_FAKE_MONI_VOLTS");
    // A level outside its control's range is refused like a setpoint.
    std::string why;
    EXPECT_FALSE(ProtectionSetLevel(2, PROTECT_VOLTAGE, 8.5, why));
    EXPECT_EQ(why, "OVP level outside 0.000 to 8.000 V");
    EXPECT_FALSE(ProtectionSetLevel(1, PROTECT_CURRENT, -0.1, why));
}

TEST_F(Protection, LevelsOutliveARestartAndADamagedOrForeignFileIsRefusedWhole)
{
    std::string why;
    ASSERT_TRUE(ProtectionSetLevel(1, PROTECT_VOLTAGE, 12.3456, why)) << why;
    ProtectionArm(1, PROTECT_VOLTAGE, true);
    ProtectionArm(3, PROTECT_CC, true);
    // A restart: what the file holds is on the panel again, kept as shown.
    ProtectionSetUp(pnl);
    EXPECT_TRUE(popups_.empty());
    EXPECT_TRUE(ProtectionOf(1).armed[PROTECT_VOLTAGE]);
    EXPECT_DOUBLE_EQ(ProtectionOf(1).voltageLevel, 12.346);
    EXPECT_TRUE(ProtectionOf(3).armed[PROTECT_CC]);
    int shown = 0;
    GetCtrlVal(pnl, PANEL_CCTRIP4, &shown);
    EXPECT_EQ(shown, 1);

    const std::string kept = [&] {
        std::ifstream in(configFile());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }();
    EXPECT_THAT(kept, HasSubstr("\nCH -18V ovp on 12.346 ocp off 2.000 cc off\n"));

    struct Damage {
        std::string text, why;
    };
    std::string cut = kept.substr(0, kept.rfind("CH -6V"));
    std::string outside = kept;
    outside.replace(outside.find("8.000"), 5, "80.000");
    for (const Damage& d : {Damage{"[General]\nlimit=1\n", "not a railmon protection file (line 1: no \""},
                            Damage{cut, "it ends after 3 of 4 channels"},
                            Damage{outside, "CH +6V's OVP level 80.000 V is outside 0.000 to 8.000 V"},
                            Damage{std::string(20000, '#'), "it is 20000 bytes"}}) {
        SCOPED_TRACE(d.why);
        std::ofstream(configFile(), std::ios::trunc) << d.text;
        popups_.clear();
        ProtectionSetUp(pnl);
        ASSERT_EQ(popups_.size(), 1u);
        EXPECT_THAT(popups_[0], testing::StartsWith("Protection file refused|railmon ignores " + configFile()));
        EXPECT_THAT(popups_[0], HasSubstr(d.why));
        // Nothing of it taken: every limit disarmed.
        EXPECT_FALSE(ProtectionOf(1).armed[PROTECT_VOLTAGE]);
        EXPECT_FALSE(ProtectionOf(3).armed[PROTECT_CC]);
    }
    // Levels that cannot be kept are said on the panel, not found out at
    // the next start.
    const std::string notADirectory = configHome_ + "/file";
    std::ofstream(notADirectory) << "x";
    setenv("XDG_CONFIG_HOME", notADirectory.c_str(), 1);
    ProtectionSetUp(pnl);
    ProtectionArm(0, PROTECT_CURRENT, true);
    EXPECT_THAT(statusText(PANEL_STATUS_PROTECT), HasSubstr("; levels not kept: "));
    EXPECT_THAT(statusText(PANEL_STATUS_PROTECT), HasSubstr(notADirectory + "/railmon/protection.conf"));
    setenv("XDG_CONFIG_HOME", configHome_.c_str(), 1);
    ProtectionSetUp(pnl);
    // The refused file is kept aside once the operator arms anew.
    ProtectionArm(0, PROTECT_CURRENT, true);
    EXPECT_TRUE(std::filesystem::exists(configFile() + ".refused"));
    ProtectionSettings reread;
    EXPECT_EQ(ProtectionFileLoad(configFile(), reread, why), ProtectionFileRead::Loaded) << why;
    EXPECT_TRUE(reread[0].armed[PROTECT_CURRENT]);
}
