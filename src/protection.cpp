#include "protection.h"

#include "metrics_export.h"
#include "number_text.h"
#include "osfile.h"
#include "panel_marks.h"
#include "protection_file.h"
#include "status_line.h"

#include <cmath>
#include <cstdio>
#include <ctime>

const int protectArm[PROTECT_LIMITS][CHANNELS] = {
    {PANEL_OVPARM1, PANEL_OVPARM2, PANEL_OVPARM3, PANEL_OVPARM4},
    {PANEL_OCPARM1, PANEL_OCPARM2, PANEL_OCPARM3, PANEL_OCPARM4},
    {PANEL_CCTRIP1, PANEL_CCTRIP2, PANEL_CCTRIP3, PANEL_CCTRIP4},
};
const int protectLevel[PROTECT_CURRENT + 1][CHANNELS] = {
    {PANEL_OVP1, PANEL_OVP2, PANEL_OVP3, PANEL_OVP4},
    {PANEL_OCP1, PANEL_OCP2, PANEL_OCP3, PANEL_OCP4},
};
namespace {

const int kChannelMark[CHANNELS] = {PANEL_PROTECT1, PANEL_PROTECT2, PANEL_PROTECT3, PANEL_PROTECT4};
const char* const kLimitNames[PROTECT_LIMITS] = {"OVP", "OCP", "CC"};

struct Protection {
    int panel = 0;
    ProtectionSettings settings;
    ProtectionTrip trip;
    std::string path;    // the configuration file; empty when there is none
    std::string refused; // why the file found at start-up was refused
    // Per channel: whether its last reading delivered numbers, so that
    // protection never claims to watch a channel that says nothing.
    bool delivered[CHANNELS] = {};
    // The off call was repeated since the last sweep ended: at most once
    // a sweep for a supply that does not confirm its outputs off.
    bool retried = false;
    // Why the levels are not kept (no configuration directory, a failed
    // write); empty when they are.
    std::string notKept;
    // What the status field and the marks show, to repaint them only when
    // it changes: a tick costs nothing more once the state is shown.
    unsigned shownKey = ~0u;
} gProtect;

bool anyArmed(int ch)
{
    const ChannelProtection& p = gProtect.settings[ch];
    return p.armed[PROTECT_VOLTAGE] || p.armed[PROTECT_CURRENT] || p.armed[PROTECT_CC];
}

const char* unitOf(ProtectionLimit limit)
{
    return limit == PROTECT_VOLTAGE ? "V" : "A";
}

double& levelOf(ChannelProtection& p, ProtectionLimit limit)
{
    return limit == PROTECT_VOLTAGE ? p.voltageLevel : p.currentLevel;
}

// Keeps the settings; a file refused at start-up is kept aside first, so
// the operator can still see what was in it.
void save()
{
    if (gProtect.path.empty())
        return;
    std::string why;
    if (!gProtect.refused.empty()) {
        // Never over an older refused file: each stays for the operator.
        std::string aside = gProtect.path + ".refused";
        OsFileFacts facts;
        if (OsFileFactsAt(aside, facts, why) != OS_ABSENT) {
            // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) of
            // a literal added to a temporary string.
            aside += '.';
            aside += std::to_string(static_cast<long long>(std::time(nullptr)));
        }
        if (!OsRename(gProtect.path, aside, why)) {
            gProtect.notKept = "cannot keep the refused file aside as " + aside + ": " + why;
            printf("Protection: levels not kept: %s\n", gProtect.notKept.c_str());
            gProtect.shownKey = ~0u;
            return;
        }
        printf("Protection: the refused %s is kept as %s\n", gProtect.path.c_str(), aside.c_str());
        gProtect.refused.clear();
    }
    const bool wasKept = gProtect.notKept.empty();
    if (!ProtectionFileSave(gProtect.path, gProtect.settings, why)) {
        gProtect.notKept = "cannot write " + gProtect.path + ": " + why;
        printf("Protection: levels not kept: %s\n", gProtect.notKept.c_str());
    } else {
        gProtect.notKept.clear();
    }
    if (wasKept != gProtect.notKept.empty())
        gProtect.shownKey = ~0u;
}

// The limits of channel index `ch` that this reading can be checked
// against: an armed over-voltage needs a voltage, an over-current a
// current, a trip on CC a code that came with numbers.
bool watchable(int ch, const TMI_MonitorReading& reading)
{
    const ChannelProtection& p = gProtect.settings[ch];
    return !(p.armed[PROTECT_VOLTAGE] && std::isnan(reading.voltage)) &&
        !(p.armed[PROTECT_CURRENT] && std::isnan(reading.current)) && !(p.armed[PROTECT_CC] && TMI_NoReading(reading));
}

void exportSettings(int ch)
{
    const ChannelProtection& p = gProtect.settings[ch];
    exportProtection(ch, gProtect.trip.tripped && gProtect.trip.ch == ch,
                     p.armed[PROTECT_VOLTAGE] ? p.voltageLevel : std::nan(""),
                     p.armed[PROTECT_CURRENT] ? p.currentLevel : std::nan(""), p.armed[PROTECT_CC]);
}

void showSettings(int ch)
{
    const ChannelProtection& p = gProtect.settings[ch];
    for (int limit = 0; limit < PROTECT_LIMITS; ++limit)
        SetCtrlVal(gProtect.panel, protectArm[limit][ch], p.armed[limit] ? 1 : 0);
    SetCtrlVal(gProtect.panel, protectLevel[PROTECT_VOLTAGE][ch], p.voltageLevel);
    SetCtrlVal(gProtect.panel, protectLevel[PROTECT_CURRENT][ch], p.currentLevel);
    exportSettings(ch);
}

// Why the levels the file holds cannot be taken; empty when they can.
std::string outOfRange(const ProtectionSettings& settings)
{
    for (int ch = 0; ch < CHANNELS; ++ch)
        for (ProtectionLimit limit : {PROTECT_VOLTAGE, PROTECT_CURRENT}) {
            double lowest = 0, highest = 0;
            ChannelProtection p = settings[ch];
            const double level = levelOf(p, limit);
            if (ProtectionLevelRange(ch, limit, lowest, highest) && !(level >= lowest && level <= highest))
                return std::string(kChannelLabels[ch]) + "'s " + kLimitNames[limit] + " level " +
                    fixedText(level, kProtectionLevelDecimals) + " " + unitOf(limit) + " is outside " +
                    fixedText(lowest, kProtectionLevelDecimals) + " to " +
                    fixedText(highest, kProtectionLevelDecimals) + " " + unitOf(limit);
        }
    return {};
}

// The reading shown beside its level: "0.812 A > 0.750 A", a negative
// channel's "-18.512 V < -18.000 V", with a decimal more when the two would
// otherwise read the same.
std::string brokenText(double value, double level, const char* unit)
{
    const bool negative = value < 0;
    const double bound = negative ? -level : level;
    int decimals = kProtectionLevelDecimals;
    while (decimals < 6 && fixedText(value, decimals) == fixedText(bound, decimals))
        ++decimals;
    return fixedText(value, decimals) + " " + unit + (negative ? " < " : " > ") + fixedText(bound, decimals) + " " +
        unit;
}

bool outputsConfirmedOff()
{
    return RailmonReportedOutput() == 0;
}

bool timerOn()
{
    int on = 0;
    GetCtrlVal(gProtect.panel, PANEL_TIMERONOFF, &on);
    return on != 0;
}

// What keeps protection from watching an armed channel: empty when nothing
// does.
std::string waitingFor(int ch, bool timer)
{
    if (!(gMask & (1 << ch)))
        return std::string(kChannelLabels[ch]) + " is not enabled";
    if (!timer)
        return "the timer is off";
    if (!gProtect.delivered[ch])
        return std::string("nothing to check from ") + kChannelLabels[ch];
    return {};
}

void trip(int panel, int ch, ProtectionLimit limit, double value, double level)
{
    gProtect.trip = {true, ch, limit, value, level, {}};
    // Off first: nothing that only shows the trip comes before the call.
    RailmonSwitchMainOutputOff(panel);
    gProtect.trip.at = clockTime(std::time(nullptr));
    SetCtrlAttribute(panel, PANEL_MAINOUTPUT, ATTR_HELD_OFF_TEXT, "TRIPPED");
    SetCtrlAttribute(panel, PANEL_CLEARTRIP, ATTR_DIMMED, 0);
    if (outputsConfirmedOff())
        printf("%s; main output switched off\n", ProtectionTripText().c_str());
    else
        printf("%s; main output switched off, but the supply does not confirm it: told again at every reading\n",
               ProtectionTripText().c_str());
    exportSettings(ch);
    exportChanged();
    gProtect.shownKey = ~0u;
    ProtectionShowState();
}

} // namespace

void ProtectionSetUp(int panel)
{
    gProtect.panel = panel;
    gProtect.trip = {};
    gProtect.refused.clear();
    gProtect.notKept.clear();
    gProtect.retried = false;
    SetCtrlAttribute(panel, PANEL_MAINOUTPUT, ATTR_HELD_OFF_TEXT, "");
    gProtect.shownKey = ~0u;
    for (bool& delivered : gProtect.delivered)
        delivered = false;
    std::string why;
    gProtect.path = ProtectionFilePath(why);
    // Without a file: every limit disarmed, each level at the top of its
    // range, so arming one never trips at once on a level nobody chose.
    for (int ch = 0; ch < CHANNELS; ++ch) {
        ChannelProtection& p = gProtect.settings[ch];
        p = {};
        double lowest = 0;
        ProtectionLevelRange(ch, PROTECT_VOLTAGE, lowest, p.voltageLevel);
        ProtectionLevelRange(ch, PROTECT_CURRENT, lowest, p.currentLevel);
    }
    if (gProtect.path.empty()) {
        gProtect.notKept = why;
        printf("Protection: levels are not kept: %s\n", why.c_str());
    } else {
        ProtectionSettings loaded;
        switch (ProtectionFileLoad(gProtect.path, loaded, why)) {
        case ProtectionFileRead::Loaded:
            why = outOfRange(loaded);
            if (why.empty()) {
                for (int ch = 0; ch < CHANNELS; ++ch)
                    gProtect.settings[ch] = loaded[ch];
                break;
            }
            [[fallthrough]];
        case ProtectionFileRead::Refused: {
            gProtect.refused = why;
            const std::string message = "railmon ignores " + gProtect.path + ": " + why +
                ".\nEvery limit starts disarmed; arm them again (the file is kept aside as " + gProtect.path +
                ".refused when you do).";
            printf("Protection: %s\n", message.c_str());
            MessagePopup("Protection file refused", message.c_str());
            break;
        }
        case ProtectionFileRead::Absent:
            break;
        }
    }
    for (int ch = 0; ch < CHANNELS; ++ch)
        showSettings(ch);
    SetCtrlAttribute(panel, PANEL_CLEARTRIP, ATTR_DIMMED, 1);
    ProtectionShowState();
}

bool ProtectionCheck(int panel, int ch, const TMI_MonitorReading& reading)
{
    // A disabled channel is one the operator chose not to watch.
    if (!(gMask & (1 << ch)))
        return false;
    gProtect.delivered[ch] = watchable(ch, reading);
    if (gProtect.trip.tripped) {
        // A supply that did not confirm its outputs off after the trip is
        // told again at the first reading of each sweep, whichever channel
        // it is, until it does.
        if (!outputsConfirmedOff() && !gProtect.retried) {
            gProtect.retried = true;
            RailmonSwitchMainOutputOff(panel);
            gProtect.shownKey = ~0u;
        }
        return false;
    }
    if (!anyArmed(ch))
        return false;
    const ChannelProtection& p = gProtect.settings[ch];
    if (p.armed[PROTECT_VOLTAGE] && std::fabs(reading.voltage) > p.voltageLevel) {
        trip(panel, ch, PROTECT_VOLTAGE, reading.voltage, p.voltageLevel);
        return true;
    }
    if (p.armed[PROTECT_CURRENT] && std::fabs(reading.current) > p.currentLevel) {
        trip(panel, ch, PROTECT_CURRENT, reading.current, p.currentLevel);
        return true;
    }
    if (p.armed[PROTECT_CC] && !TMI_NoReading(reading) && static_cast<signed char>(reading.cv_cc) == kCodeCC) {
        trip(panel, ch, PROTECT_CC, reading.current, 0);
        return true;
    }
    return false;
}

const ChannelProtection& ProtectionOf(int ch)
{
    return gProtect.settings[ch];
}

const ProtectionTrip& ProtectionTripped()
{
    return gProtect.trip;
}

std::string ProtectionTripText()
{
    const ProtectionTrip& t = gProtect.trip;
    if (!t.tripped)
        return {};
    std::string text = std::string("Tripped: ") + kChannelLabels[t.ch] + " ";
    if (t.limit == PROTECT_CC) {
        text += "in CC";
        if (!std::isnan(t.value)) {
            text += " at ";
            text += fixedText(t.value, 4);
            text += " A";
        }
    } else
        text += brokenText(t.value, t.level, unitOf(t.limit));
    return text + " at " + t.at;
}

bool ProtectionLevelRange(int ch, ProtectionLimit limit, double& lowest, double& highest)
{
    lowest = highest = std::nan("");
    if (limit != PROTECT_VOLTAGE && limit != PROTECT_CURRENT)
        return false;
    const int control = protectLevel[limit][ch];
    return GetCtrlAttribute(gProtect.panel, control, ATTR_MIN_VALUE, &lowest) == 0 &&
        GetCtrlAttribute(gProtect.panel, control, ATTR_MAX_VALUE, &highest) == 0 && !std::isnan(lowest) &&
        !std::isnan(highest);
}

bool ProtectionSetLevel(int ch, ProtectionLimit limit, double level, std::string& why)
{
    double lowest = 0, highest = 0;
    if (!ProtectionLevelRange(ch, limit, lowest, highest)) {
        why = "no range for this level";
        return false;
    }
    if (!(level >= lowest && level <= highest)) {
        why = std::string(kLimitNames[limit]) + " level outside " + fixedText(lowest, kProtectionLevelDecimals) +
            " to " + fixedText(highest, kProtectionLevelDecimals) + " " + unitOf(limit);
        return false;
    }
    // Kept as shown: the file and the panel hold the same number.
    // Rounded by number, not through text, which the C locale could read
    // as "0,750".
    const double scale = std::pow(10.0, kProtectionLevelDecimals);
    const double kept = std::round(level * scale) / scale;
    levelOf(gProtect.settings[ch], limit) = kept;
    SetCtrlVal(gProtect.panel, protectLevel[limit][ch], kept);
    exportSettings(ch);
    exportChanged();
    save();
    return true;
}

void ProtectionArm(int ch, ProtectionLimit limit, bool armed)
{
    gProtect.settings[ch].armed[limit] = armed;
    SetCtrlVal(gProtect.panel, protectArm[limit][ch], armed ? 1 : 0);
    exportSettings(ch);
    exportChanged();
    save();
    ProtectionShowState();
}

std::string ProtectionClearRefusal()
{
    if (!gProtect.trip.tripped)
        return "nothing tripped";
    // The latch is what keeps the outputs off on a supply that may not have
    // gone off: it holds until the supply says they are.
    if (!outputsConfirmedOff())
        return "the supply does not confirm its outputs off (it reports " +
            (RailmonReportedOutput() == NO_OUTPUT_STATE ? std::string("no state")
                                                        : std::to_string(RailmonReportedOutput())) +
            "); the trip holds until it does";
    return {};
}

bool ProtectionClear(const char* by)
{
    if (!ProtectionClearRefusal().empty())
        return false;
    const int ch = gProtect.trip.ch;
    printf("Protection: trip cleared by %s (%s); the main output stays off\n", by, ProtectionTripText().c_str());
    gProtect.trip = {};
    SetCtrlAttribute(gProtect.panel, PANEL_MAINOUTPUT, ATTR_HELD_OFF_TEXT, "");
    SetCtrlAttribute(gProtect.panel, PANEL_CLEARTRIP, ATTR_DIMMED, 1);
    exportSettings(ch);
    exportChanged();
    ProtectionShowState();
    return true;
}

std::string ProtectionRefusesOn()
{
    return ProtectionTripText();
}

void ProtectionShowState()
{
    if (!gProtect.panel)
        return;
    // A sweep ended (or something else changed): the next reading may
    // repeat an unconfirmed off call.
    gProtect.retried = false;
    const bool timer = timerOn();
    // Everything the field and the marks say, in one number.
    unsigned key = (gProtect.trip.tripped ? 1u : 0u) | (timer ? 2u : 0u) | (static_cast<unsigned>(gMask & 15) << 2) |
        (outputsConfirmedOff() ? 1u << 14 : 0u) | (gProtect.notKept.empty() ? 0u : 1u << 15);
    for (int ch = 0; ch < CHANNELS; ++ch)
        key |= ((anyArmed(ch) ? 1u : 0u) | (gProtect.delivered[ch] ? 2u : 0u)) << (6 + 2 * ch);
    if (key == gProtect.shownKey)
        return;
    gProtect.shownKey = key;

    std::string armed, waiting;
    for (int ch = 0; ch < CHANNELS; ++ch) {
        const bool tripped = gProtect.trip.tripped && gProtect.trip.ch == ch;
        const std::string why = anyArmed(ch) ? waitingFor(ch, timer) : std::string();
        if (anyArmed(ch))
            armed += (armed.empty() ? "" : ", ") + std::string(kChannelLabels[ch]);
        if (!why.empty() && waiting.empty())
            waiting = why;
        const char* mark = tripped ? "TRIPPED" : !anyArmed(ch) ? "Not armed" : why.empty() ? "Armed" : "Waiting";
        const int colour = tripped         ? VAL_ERROR_COLOR
            : why.empty() || !anyArmed(ch) ? VAL_DEFAULT_COLOR
                                           : VAL_WARNING_COLOR;
        std::string tip = tripped ? std::string(kLimitNames[gProtect.trip.limit]) + " tripped: " + ProtectionTripText()
            : why.empty()         ? std::string()
                                  : "Waiting for readings: " + why;
        SetCtrlVal(gProtect.panel, kChannelMark[ch],
                   tripped ? (std::string(mark) + " " + kLimitNames[gProtect.trip.limit]).c_str() : mark);
        SetCtrlAttribute(gProtect.panel, kChannelMark[ch], ATTR_TEXT_BGCOLOR, colour);
        SetCtrlAttribute(gProtect.panel, kChannelMark[ch], ATTR_TOOLTIP_NOTE, tip.c_str());
    }
    std::string text;
    int colour = VAL_DEFAULT_COLOR;
    if (gProtect.trip.tripped) {
        text = ProtectionTripText();
        if (!outputsConfirmedOff())
            text += "; the supply does not confirm its outputs off";
        colour = VAL_ERROR_COLOR;
    } else if (armed.empty()) {
        text = "Protection off: no limit armed";
    } else if (!waiting.empty()) {
        text = "Protection waiting for readings: " + waiting;
        colour = VAL_WARNING_COLOR;
    } else {
        text = "Protection on: " + armed;
    }
    // Levels that will not outlive this run are said, not found out at the
    // next start.
    if (!gProtect.notKept.empty()) {
        text += "; levels not kept: " + gProtect.notKept;
        if (colour == VAL_DEFAULT_COLOR)
            colour = VAL_WARNING_COLOR;
    }
    showStatus(PANEL_STATUS_PROTECT, text, colour);
}

int CVICALLBACK ArmProtectionCB(int panel, int control, int event, void*, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    int on = 0;
    GetCtrlVal(panel, control, &on);
    for (int limit = 0; limit < PROTECT_LIMITS; ++limit)
        for (int ch = 0; ch < CHANNELS; ++ch)
            if (protectArm[limit][ch] == control) {
                ProtectionArm(ch, static_cast<ProtectionLimit>(limit), on != 0);
                noteRemoteChange(panel, control, {});
            }
    return 0;
}

int CVICALLBACK SetProtectionLevelCB(int panel, int control, int event, void*, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    double level = std::nan("");
    GetCtrlVal(panel, control, &level);
    for (int limit = PROTECT_VOLTAGE; limit <= PROTECT_CURRENT; ++limit)
        for (int ch = 0; ch < CHANNELS; ++ch)
            if (protectLevel[limit][ch] == control) {
                std::string why;
                // The control refuses what is outside its range; this keeps
                // what it took.
                if (!ProtectionSetLevel(ch, static_cast<ProtectionLimit>(limit), level, why))
                    SetCtrlVal(panel, control, levelOf(gProtect.settings[ch], static_cast<ProtectionLimit>(limit)));
                noteRemoteChange(panel, control, {});
            }
    return 0;
}

// Before a trip is cleared the operator sees why it tripped.
bool ProtectionConfirmClear()
{
    const std::string trip = ProtectionTripText();
    if (const std::string refusal = ProtectionClearRefusal(); !refusal.empty()) {
        MessagePopup("Protection trip holds", (trip + ".\n\nIt cannot be cleared: " + refusal + ".").c_str());
        return false;
    }
    const std::string message =
        trip + ".\n\nClear the trip? The outputs stay off; switch them on yourself once the fault is found.";
    if (!ConfirmPopup("Clear the protection trip", message.c_str()))
        return false;
    // Only the trip the operator was shown: a script may have cleared it,
    // and another tripped, while the question was open.
    if (ProtectionTripText() != trip)
        return false;
    return ProtectionClear("the operator");
}

int CVICALLBACK ClearTripCB(int, int, int event, void*, int, int)
{
    if (event == EVENT_COMMIT && gProtect.trip.tripped)
        ProtectionConfirmClear();
    return 0;
}
