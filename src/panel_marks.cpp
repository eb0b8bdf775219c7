#include "panel_marks.h"

#include "number_text.h"
#include "railmon.h"
#include "status_line.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <string>

namespace {

// What the main output switch is marked with: why its state is not
// confirmed, or nothing. The mark of the last switching is kept apart, so
// a supply that answers again gets that one back.
std::string gMainOutputMark;
bool gSupplySilent = false;

// Per control: its mark's tooltip, and the notes of what a script did to
// it, kept apart so that either can change without losing the other.
std::map<int, std::string> gMarkTips;
std::map<int, std::string> gRemoteNotes;
std::map<int, std::string> gLockNotes;

void showTip(int panel, int control)
{
    SetCtrlAttribute(panel, control, ATTR_TOOLTIP_TEXT, gMarkTips[control].c_str());
}

// Below the control's own tooltip, which stays.
void showNotes(int panel, int control)
{
    const std::string& change = gRemoteNotes[control];
    const std::string& lock = gLockNotes[control];
    const std::string notes = change.empty() ? lock : lock.empty() ? change : change + "\n" + lock;
    SetCtrlAttribute(panel, control, ATTR_TOOLTIP_NOTE, notes.c_str());
}

void keepNote(std::map<int, std::string>& notes, int panel, int control, const std::string& note)
{
    std::string& kept = notes[control];
    if (kept == note)
        return;
    kept = note;
    showNotes(panel, control);
}

void markMainOutput(const std::string& why)
{
    SetCtrlAttribute(pnl, PANEL_MAINOUTPUT, ATTR_TEXT_BGCOLOR, why.empty() ? VAL_DEFAULT_COLOR : VAL_WARNING_COLOR);
    gMarkTips[PANEL_MAINOUTPUT] = why;
    showTip(pnl, PANEL_MAINOUTPUT);
}

void markSetpoint(int panel, int control, int colour, const char* tip)
{
    SetCtrlAttribute(panel, control, ATTR_TEXT_BGCOLOR, colour);
    gMarkTips[control] = tip;
    showTip(panel, control);
}

} // namespace

void markReadingsStale(int panel, int ch)
{
    SetCtrlAttribute(panel, vmon[ch], ATTR_STALE, 1);
    SetCtrlAttribute(panel, imon[ch], ATTR_STALE, 1);
    SetCtrlAttribute(panel, cvcc[ch], ATTR_STALE, 1);
}

void markAllReadingsStale(int panel)
{
    for (int ch = 0; ch < CHANNELS; ++ch)
        markReadingsStale(panel, ch);
}

void markSupplySilent(bool silent, std::time_t lastDelivered)
{
    if (silent == gSupplySilent)
        return;
    gSupplySilent = silent;
    SetCtrlAttribute(pnl, PANEL_MAINOUTPUT, ATTR_STALE, silent ? 1 : 0);
    markMainOutput(silent ? "The supply answers nothing since " +
                           (lastDelivered ? clockTime(lastDelivered) : std::string("start-up")) +
                           ": the outputs may be in any state"
                          : gMainOutputMark);
}

void showMainOutput(int panel, int control, unsigned char reported, int asked)
{
    char tip[128] = "";
    if (reported == NO_OUTPUT_STATE) {
        SetCtrlVal(panel, control, std::nan(""));
        if (asked >= 0)
            std::snprintf(tip, sizeof tip, "Switched to %d; the supply did not confirm any state", asked);
        else
            std::snprintf(tip, sizeof tip, "The supply reported no main output state");
    } else {
        SetCtrlVal(panel, control, static_cast<int>(reported));
        if (asked >= 0 && reported != asked)
            std::snprintf(tip, sizeof tip, "Switched to %d; the supply reports %d", asked, reported);
    }
    gMainOutputMark = tip;
    if (!gSupplySilent)
        markMainOutput(gMainOutputMark);
}

unsigned char showActivePreset(unsigned char reported)
{
    if (reported == NO_PRESET) {
        SetCtrlVal(pnl, PANEL_PRESET, std::nan(""));
        return 0;
    }
    SetCtrlVal(pnl, PANEL_PRESET, static_cast<int>(reported));
    return reported;
}

void showQueriedSetpoint(int panel, int control, double value)
{
    SetCtrlVal(panel, control, value);
    if (std::isnan(value))
        markSetpoint(panel, control, VAL_WARNING_COLOR,
                     "The supply reported no setpoint; Set writes none until you enter one");
    else
        markSetpoint(panel, control, VAL_DEFAULT_COLOR, "");
}

void showSetpointAgreement(int panel, int control, double shown, double reported, const char* unit)
{
    // A control that held no value shows what the supply now reports, if
    // anything.
    if (std::isnan(shown)) {
        showQueriedSetpoint(panel, control, reported);
        return;
    }
    // Equal at the decimals the control shows: a supply rounds what it is
    // given to its own resolution, and the operator sees no more digits.
    int decimals = 3;
    GetCtrlAttribute(panel, control, ATTR_PRECISION, &decimals);
    const double scale = std::pow(10.0, decimals);
    if (std::round(shown * scale) == std::round(reported * scale)) {
        markSetpoint(panel, control, VAL_DEFAULT_COLOR, "");
        return;
    }
    const std::string tip = std::isnan(reported) ? std::string("The supply reported no setpoint")
                                                 : "The supply holds " + numberText(reported, 6) + " " + unit;
    markSetpoint(panel, control, VAL_WARNING_COLOR, tip.c_str());
}

void noteRemoteChange(int panel, int control, const std::string& note)
{
    keepNote(gRemoteNotes, panel, control, note);
}

void noteRemoteLock(int panel, int control, const std::string& note)
{
    keepNote(gLockNotes, panel, control, note);
}
