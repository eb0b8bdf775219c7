// The supply's SCPI commands: one table of patterns and handlers, each
// handler taking the panel's own path (Set, Read, the main output switch,
// the preset selector, a channel's Enabled button). The connections that
// run them are remote_server.cpp's.
#include "remote_control.h"
#include "remote_clients.h"

#include "metrics_export.h"
#include "number_text.h"
#include "panel_marks.h"
#include "protection.h"
#include "railmon.h"
#include "remote_commands.h"
#include "scpi.h"
#include "status_line.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <string>
#include <vector>

#ifndef RAILMON_VERSION
#define RAILMON_VERSION "unknown"
#endif

namespace {

// The supply's preset memories, as the preset selector offers them.
constexpr int kPresets = 4;
// Decimals of an answer: the panel's setpoint controls show volts to 3 and
// amperes to 4.
constexpr int kVoltDecimals = 3;
constexpr int kAmpDecimals = 4;

// The instrument names of the channels, channel 1 first (INSTrument:SELect).
constexpr const char* kInstrumentNames[CHANNELS] = {"P18V", "N18V", "P6V", "N6V"};

std::string now()
{
    return clockTime(std::time(nullptr));
}

// A change a script made: the status line names it, and each control it
// changed says so in its tooltip.
void noteChange(const std::string& what, std::initializer_list<int> controls = {})
{
    const std::string at = now();
    gRemote.lastEvent = "last " + what + " at " + at;
    for (int control : controls)
        noteRemoteChange(gRemote.panel, control, "set remotely at " + at);
    showRemoteStatus();
}

void noteSetRemotely(int control)
{
    noteRemoteChange(gRemote.panel, control, "set remotely at " + now());
}

Client& clientOf(ScpiCall& call)
{
    return *static_cast<Client*>(call.context());
}

// The channels (1..4) a command addresses: its channel list when given,
// else the selected one.
std::vector<int> channelsOf(ScpiCall& call, std::size_t i)
{
    if (call.param(i).kind == ScpiArg::Channels)
        return call.channels(i);
    return {clientOf(call).channel};
}

// The range of a setpoint control, as the panel file gives it: the value
// a script may write is one the operator could type.
bool entryRange(int control, double& lowest, double& highest)
{
    lowest = highest = std::nan("");
    return GetCtrlAttribute(gRemote.panel, control, ATTR_MIN_VALUE, &lowest) == 0 &&
        GetCtrlAttribute(gRemote.panel, control, ATTR_MAX_VALUE, &highest) == 0 && !std::isnan(lowest) &&
        !std::isnan(highest);
}

// The value parameter `i` asks for on `control`: MIN and MAX are its range,
// DEF 0. NaN when out of range, the error queued.
double valueFor(ScpiCall& call, std::size_t i, int control)
{
    double lowest = 0, highest = 0;
    if (!entryRange(control, lowest, highest)) {
        call.error(-222, "Data out of range;no range for this channel");
        return std::nan("");
    }
    double value = call.number(i);
    switch (call.limit(i)) {
    case ScpiLimit::Minimum:
        value = lowest;
        break;
    case ScpiLimit::Maximum:
        value = highest;
        break;
    case ScpiLimit::Default:
        value = 0;
        break;
    case ScpiLimit::None:
        break;
    }
    if (!(value >= lowest && value <= highest)) {
        call.error(-222);
        return std::nan("");
    }
    return value;
}

// A reading as answered: the supply's number, or SCPI's not-a-number with
// the error that says no number came.
void answerReading(ScpiCall& call, double value, int decimals)
{
    if (std::isnan(value))
        call.error(-230, "Data corrupt or stale");
    call.answer(ScpiReading(value, decimals));
}

std::string channelText(const std::vector<int>& channels)
{
    std::string text = "(@";
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) of a
    // literal added to a temporary string.
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (i)
            text += ',';
        text += std::to_string(channels[i]);
    }
    return text + ")";
}

// ---- Setpoints ------------------------------------------------------------------

// Writes `value` into `controls` of each channel and Sets the channel as
// the operator's Set does. Every channel's value is checked before any is
// written.
void setSetpoint(ScpiCall& call, const int* controls, const char* header, int decimals)
{
    const std::vector<int> channels = channelsOf(call, 1);
    std::vector<double> values;
    for (int ch : channels) {
        values.push_back(valueFor(call, 0, controls[ch - 1]));
        if (std::isnan(values.back()))
            return;
    }
    const unsigned char preset = RailmonActivePreset();
    for (std::size_t i = 0; i < channels.size(); ++i) {
        SetCtrlVal(gRemote.panel, controls[channels[i] - 1], values[i]);
        RailmonSetChannel(gRemote.panel, channels[i] - 1, preset);
    }
    exportChanged();
    for (int ch : channels)
        noteSetRemotely(controls[ch - 1]);
    noteChange(std::string(header) + " " + fixedText(values[0], decimals) + "," + channelText(channels));
}

void setVoltage(ScpiCall& call)
{
    setSetpoint(call, vset, "VOLT", kVoltDecimals);
}

void setCurrent(ScpiCall& call)
{
    setSetpoint(call, iset, "CURR", kAmpDecimals);
}

// What the supply holds for the channel in the active preset, or its
// range with MIN or MAX.
void querySetpoint(ScpiCall& call, const int* controls, bool volts)
{
    const bool limitGiven = call.param(0).kind == ScpiArg::Number;
    if (limitGiven && call.limit(0) != ScpiLimit::Minimum && call.limit(0) != ScpiLimit::Maximum)
        return call.error(-224);
    const std::vector<int> channels = channelsOf(call, limitGiven ? 1 : 0);
    const int decimals = volts ? kVoltDecimals : kAmpDecimals;
    if (limitGiven) {
        for (int ch : channels) {
            double lowest = 0, highest = 0;
            entryRange(controls[ch - 1], lowest, highest);
            answerReading(call, call.limit(0) == ScpiLimit::Minimum ? lowest : highest, decimals);
        }
        return;
    }
    const unsigned char preset = RailmonActivePreset();
    for (int ch : channels) {
        double held = std::nan("");
        const unsigned char number = static_cast<unsigned char>(ch);
        if (volts)
            TMI_Invoke(TMI_VoltageQ, TMI_DeviceId, number, preset, &held);
        else
            TMI_Invoke(TMI_CurrentQ, TMI_DeviceId, number, preset, &held);
        answerReading(call, held, decimals);
    }
}

void queryVoltage(ScpiCall& call)
{
    querySetpoint(call, vset, true);
}

void queryCurrent(ScpiCall& call)
{
    querySetpoint(call, iset, false);
}

// The channel an APPLy names: CH1..CH4 or an instrument name; 0 when none.
int channelNamed(const std::string& word)
{
    for (int ch = 1; ch <= CHANNELS; ++ch)
        if (word == "CH" + std::to_string(ch) || word == kInstrumentNames[ch - 1])
            return ch;
    return 0;
}

void apply(ScpiCall& call)
{
    const int ch = channelNamed(call.text(0));
    if (!ch)
        return call.error(-224);
    const double volts = valueFor(call, 1, vset[ch - 1]);
    if (std::isnan(volts))
        return;
    const bool withCurrent = call.count() > 2;
    const double amps = withCurrent ? valueFor(call, 2, iset[ch - 1]) : 0;
    if (std::isnan(amps))
        return;
    const unsigned char preset = RailmonActivePreset();
    SetCtrlVal(gRemote.panel, vset[ch - 1], volts);
    if (withCurrent)
        SetCtrlVal(gRemote.panel, iset[ch - 1], amps);
    RailmonSetChannel(gRemote.panel, ch - 1, preset);
    exportChanged();
    noteSetRemotely(vset[ch - 1]);
    if (withCurrent)
        noteSetRemotely(iset[ch - 1]);
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) of a
    // literal added to a temporary string.
    std::string what = "APPL CH";
    what += std::to_string(ch);
    what += ',';
    what += fixedText(volts, kVoltDecimals);
    if (withCurrent) {
        what += ',';
        what += fixedText(amps, kAmpDecimals);
    }
    noteChange(what);
}

void queryApply(ScpiCall& call)
{
    const int ch = call.count() ? channelNamed(call.text(0)) : clientOf(call).channel;
    if (!ch)
        return call.error(-224);
    const unsigned char preset = RailmonActivePreset();
    double volts = std::nan(""), amps = std::nan("");
    TMI_Invoke(TMI_VoltageQ, TMI_DeviceId, static_cast<unsigned char>(ch), preset, &volts);
    TMI_Invoke(TMI_CurrentQ, TMI_DeviceId, static_cast<unsigned char>(ch), preset, &amps);
    answerReading(call, volts, kVoltDecimals);
    answerReading(call, amps, kAmpDecimals);
}

// ---- Readings -------------------------------------------------------------------

// A fresh sweep of each channel, shown as Read shows it.
void measure(ScpiCall& call, bool volts)
{
    int delivered = 0;
    const std::vector<int> channels = channelsOf(call, 0);
    for (int ch : channels) {
        const TMI_MonitorReading reading = RailmonReadChannel(gRemote.panel, ch - 1);
        delivered += !TMI_NoReading(reading);
        answerReading(call, volts ? reading.voltage : reading.current, volts ? kVoltDecimals : kAmpDecimals);
    }
    showReadingsStatus(static_cast<int>(channels.size()), delivered, false);
    ProtectionShowState();
    exportChanged();
}

void measureVoltage(ScpiCall& call)
{
    measure(call, true);
}

void measureCurrent(ScpiCall& call)
{
    measure(call, false);
}

void fetch(ScpiCall& call, bool volts)
{
    for (int ch : channelsOf(call, 0)) {
        const TMI_MonitorReading& reading = RailmonLatestReading(ch - 1);
        answerReading(call, volts ? reading.voltage : reading.current, volts ? kVoltDecimals : kAmpDecimals);
    }
}

void fetchVoltage(ScpiCall& call)
{
    fetch(call, true);
}

void fetchCurrent(ScpiCall& call)
{
    fetch(call, false);
}

// The regulation mode of the latest reading, as the panel's CV/CC ring
// names the codes (0 CV, 1 CC, 2 OFF).
void queryMode(ScpiCall& call)
{
    for (int ch : channelsOf(call, 0)) {
        const TMI_MonitorReading& reading = RailmonLatestReading(ch - 1);
        if (TMI_NoReading(reading)) {
            answerReading(call, std::nan(""), 0);
            continue;
        }
        const int code = static_cast<signed char>(reading.cv_cc);
        call.answer(code == 0 ? "CV" : code == 1 ? "CC" : code == 2 ? "OFF" : std::to_string(code));
    }
}

// Bit 0: the channel regulates its current, bit 1: its voltage.
void queryCondition(ScpiCall& call)
{
    if (call.suffix() > CHANNELS)
        return call.error(-114);
    const TMI_MonitorReading& reading = RailmonLatestReading(call.suffix() - 1);
    if (TMI_NoReading(reading))
        call.error(-230, "Data corrupt or stale");
    const int code = TMI_NoReading(reading) ? -1 : static_cast<signed char>(reading.cv_cc);
    call.answer(std::to_string(code == 1 ? 1 : code == 0 ? 2 : 0));
}

// ---- Outputs --------------------------------------------------------------------

void switchMain(bool on)
{
    SetCtrlVal(gRemote.panel, PANEL_MAINOUTPUT, on ? 1 : 0);
    RailmonSwitchMainOutput(gRemote.panel);
}

void setOutput(ScpiCall& call)
{
    if (call.count() > 1)
        return call.error(-221, "Settings conflict;the main output switches every channel: OUTP:CHAN");
    if (const std::string why = ProtectionRefusesOn(); call.boolean(0) && !why.empty())
        return call.error(-221, "Settings conflict;" + why + ": clear it first (OUTP:PROT:CLE)");
    switchMain(call.boolean(0));
    noteChange(call.boolean(0) ? "OUTP ON" : "OUTP OFF", {PANEL_MAINOUTPUT});
}

void queryOutput(ScpiCall& call)
{
    unsigned char state = NO_OUTPUT_STATE;
    TMI_Invoke(TMI_MainOutputQ, TMI_DeviceId, &state);
    if (state == NO_OUTPUT_STATE)
        return answerReading(call, std::nan(""), 0);
    call.answer(state ? "1" : "0");
}

// A channel's Enabled button, as the operator clicks it: whether railmon
// reads, logs and Sets the channel (the supply has no per-channel switch).
void setChannelOutput(ScpiCall& call)
{
    for (int ch : call.channels(1)) {
        SetCtrlVal(gRemote.panel, radiob[ch - 1], call.boolean(0) ? 1 : 0);
        SetMaskCB(gRemote.panel, radiob[ch - 1], EVENT_COMMIT, nullptr, 0, 0);
        noteSetRemotely(radiob[ch - 1]);
    }
    noteChange(std::string("OUTP:CHAN ") + (call.boolean(0) ? "ON," : "OFF,") + channelText(call.channels(1)));
}

void queryChannelOutput(ScpiCall& call)
{
    for (int ch : call.channels(0)) {
        int on = 0;
        GetCtrlVal(gRemote.panel, radiob[ch - 1], &on);
        call.answer(on ? "1" : "0");
    }
}

// ---- Presets --------------------------------------------------------------------

// The preset parameter 0 names, 1..kPresets; 0 with -222 queued for one
// the panel does not offer.
int presetOf(ScpiCall& call)
{
    const double n = call.number(0);
    if (call.limit(0) != ScpiLimit::None || n != std::floor(n) || n < 1 || n > kPresets) {
        call.error(-222);
        return 0;
    }
    return static_cast<int>(n);
}

void recall(ScpiCall& call)
{
    const int n = presetOf(call);
    if (!n)
        return;
    SetCtrlVal(gRemote.panel, PANEL_PRESET, n);
    SetPresetCB(gRemote.panel, PANEL_PRESET, EVENT_COMMIT, nullptr, 0, 0);
    for (int ch = 0; ch < CHANNELS; ++ch) {
        noteSetRemotely(vset[ch]);
        noteSetRemotely(iset[ch]);
    }
    noteChange("*RCL " + std::to_string(n), {PANEL_PRESET});
}

// The active preset's setpoints, as the supply reports them, written into
// preset n with Set's calls and read back. Nothing is written unless all
// eight were reported: a preset half copied holds setpoints nobody chose.
void save(ScpiCall& call)
{
    const int n = presetOf(call);
    if (!n)
        return;
    const unsigned char active = RailmonActivePreset();
    double volts[CHANNELS], amps[CHANNELS];
    for (int ch = 0; ch < CHANNELS; ++ch) {
        volts[ch] = amps[ch] = std::nan("");
        const unsigned char number = static_cast<unsigned char>(ch + 1);
        TMI_Invoke(TMI_VoltageQ, TMI_DeviceId, number, active, &volts[ch]);
        TMI_Invoke(TMI_CurrentQ, TMI_DeviceId, number, active, &amps[ch]);
        if (std::isnan(volts[ch]) || std::isnan(amps[ch]))
            return call.error(-230,
                              std::string("Data corrupt or stale;the supply reported no setpoint of ") +
                                  kChannelLabels[ch] + ": nothing saved");
    }
    const unsigned char target = static_cast<unsigned char>(n);
    for (int ch = 0; ch < CHANNELS; ++ch) {
        double heldVolts = std::nan(""), heldAmps = std::nan("");
        RailmonWriteSetpoints(ch, target, volts[ch], amps[ch], &heldVolts, &heldAmps);
        // Compared at the decimals the answers have, as the panel compares
        // at the decimals it shows: a supply rounds to its resolution.
        if (fixedText(heldVolts, kVoltDecimals) != fixedText(volts[ch], kVoltDecimals) ||
            fixedText(heldAmps, kAmpDecimals) != fixedText(amps[ch], kAmpDecimals))
            call.error(-200,
                       "Execution error;preset " + std::to_string(n) + " holds " + fixedText(heldVolts, kVoltDecimals) +
                           " V, " + fixedText(heldAmps, kAmpDecimals) + " A for " + kChannelLabels[ch] + ", not " +
                           fixedText(volts[ch], kVoltDecimals) + " V, " + fixedText(amps[ch], kAmpDecimals) + " A");
    }
    noteChange("*SAV " + std::to_string(n));
}

void queryPresets(ScpiCall& call)
{
    call.answer(std::to_string(kPresets));
}

// ---- Channels -------------------------------------------------------------------

void selectByName(ScpiCall& call)
{
    const int ch = channelNamed(call.text(0));
    if (!ch)
        return call.error(-224);
    clientOf(call).channel = ch;
}

void querySelected(ScpiCall& call)
{
    call.answer(kInstrumentNames[clientOf(call).channel - 1]);
}

void selectByNumber(ScpiCall& call)
{
    constexpr double kLast = CHANNELS;
    const double n = call.limit(0) == ScpiLimit::Maximum ? kLast
        : call.limit(0) != ScpiLimit::None               ? 1
                                                         : call.number(0);
    if (n != std::floor(n) || n < 1 || n > kLast)
        return call.error(-222);
    clientOf(call).channel = static_cast<int>(n);
}

void querySelectedNumber(ScpiCall& call)
{
    call.answer(std::to_string(clientOf(call).channel));
}

void catalog(ScpiCall& call)
{
    for (const char* name : kInstrumentNames)
        call.answer(std::string("\"") + name + "\"");
}

void catalogFull(ScpiCall& call)
{
    for (int ch = 1; ch <= CHANNELS; ++ch) {
        call.answer(std::string("\"") + kInstrumentNames[ch - 1] + "\"");
        call.answer(std::to_string(ch));
    }
}

void channelCount(ScpiCall& call)
{
    call.answer(std::to_string(CHANNELS));
}

// ---- Common commands ------------------------------------------------------------

// Each field of *IDN? is comma-separated and a ';' would end the answer:
// the model name the supply wrote may hold either.
std::string idnField(std::string text)
{
    std::replace(text.begin(), text.end(), ',', ' ');
    std::replace(text.begin(), text.end(), ';', ' ');
    return text.empty() ? "unknown" : text;
}

void identify(ScpiCall& call)
{
    call.answer("railmon," + idnField(gSupply.model) + ",0," RAILMON_VERSION);
}

void reset(ScpiCall& call)
{
    switchMain(false);
    Client& client = clientOf(call);
    client.channel = 1;
    client.scpi.errors.clear();
    client.scpi.eventStatus = 0;
    noteChange("*RST", {PANEL_MAINOUTPUT});
}

// 0 when the supply answers a query.
void selfTest(ScpiCall& call)
{
    unsigned char state = NO_OUTPUT_STATE;
    TMI_Invoke(TMI_MainOutputQ, TMI_DeviceId, &state);
    call.answer(state == NO_OUTPUT_STATE ? "1" : "0");
}

// ---- Remote and local ------------------------------------------------------------

void setMode(ScpiCall& call, Mode mode, const char* header)
{
    Client& client = clientOf(call);
    if (client.mode == mode)
        return;
    client.mode = mode;
    printf("Remote control: %s %s\n", client.peer.c_str(), header);
    gRemote.lastEvent = "last " + std::string(header) + " at " + now();
    applyLock();
}

void goRemote(ScpiCall& call)
{
    setMode(call, Mode::Remote, "SYST:REM");
}

void goLocal(ScpiCall& call)
{
    setMode(call, Mode::Local, "SYST:LOC");
}

void lockPanel(ScpiCall& call)
{
    setMode(call, Mode::Locked, "SYST:RWL");
}

} // namespace

std::vector<int> RemoteChannelsOf(ScpiCall& call, std::size_t i)
{
    return channelsOf(call, i);
}

double RemoteValueFor(ScpiCall& call, std::size_t i, int control)
{
    return valueFor(call, i, control);
}

std::string RemoteChannelText(const std::vector<int>& channels)
{
    return channelText(channels);
}

void RemoteNoteChange(const std::string& what, std::initializer_list<int> controls)
{
    noteChange(what, controls);
}

void RemoteNoteSetRemotely(int control)
{
    noteSetRemotely(control);
}

namespace {

using A = ScpiArg;
const ScpiCommand kSupply[] = {
    {"*IDN?", identify, {}, 0},
    {"*RST", reset, {}, 0},
    {"*TST?", selfTest, {}, 0},
    {"*RCL", recall, {A::Number}, 1},
    {"*SAV", save, {A::Number}, 1},
    {"SYSTem:REMote", goRemote, {}, 0},
    {"SYSTem:LOCal", goLocal, {}, 0},
    {"SYSTem:RWLock", lockPanel, {}, 0},
    {"MEMory:NSTates?", queryPresets, {}, 0},
    {"INSTrument:NSELect", selectByNumber, {A::Number}, 1},
    {"INSTrument:NSELect?", querySelectedNumber, {}, 0},
    {"INSTrument:CATalog:FULL?", catalogFull, {}, 0},
    {"INSTrument:CATalog?", catalog, {}, 0},
    {"INSTrument[:SELect]", selectByName, {A::Word}, 1},
    {"INSTrument[:SELect]?", querySelected, {}, 0},
    {"SYSTem:CHANnel:COUNt?", channelCount, {}, 0},
    {"[SOURce:]VOLTage:PROTection[:LEVel]", RemoteSetVoltageProtection, {A::Volts, A::Channels}, 1},
    {"[SOURce:]VOLTage:PROTection[:LEVel]?", RemoteQueryVoltageProtection, {A::Channels}, 0},
    {"[SOURce:]VOLTage:PROTection:STATe", RemoteArmVoltageProtection, {A::Boolean, A::Channels}, 1},
    {"[SOURce:]VOLTage:PROTection:STATe?", RemoteQueryVoltageProtectionArmed, {A::Channels}, 0},
    {"[SOURce:]VOLTage:PROTection:TRIPped?", RemoteQueryVoltageTripped, {A::Channels}, 0},
    {"[SOURce:]CURRent:PROTection[:LEVel]", RemoteSetCurrentProtection, {A::Amperes, A::Channels}, 1},
    {"[SOURce:]CURRent:PROTection[:LEVel]?", RemoteQueryCurrentProtection, {A::Channels}, 0},
    {"[SOURce:]CURRent:PROTection:STATe", RemoteArmCurrentProtection, {A::Boolean, A::Channels}, 1},
    {"[SOURce:]CURRent:PROTection:STATe?", RemoteQueryCurrentProtectionArmed, {A::Channels}, 0},
    {"[SOURce:]CURRent:PROTection:MODE", RemoteSetCurrentProtectionMode, {A::Word, A::Channels}, 1},
    {"[SOURce:]CURRent:PROTection:MODE?", RemoteQueryCurrentProtectionMode, {A::Channels}, 0},
    {"[SOURce:]CURRent:PROTection:TRIPped?", RemoteQueryCurrentTripped, {A::Channels}, 0},
    {"OUTPut:PROTection:CLEar", RemoteClearProtection, {}, 0},
    {"[SOURce:]VOLTage[:LEVel][:IMMediate][:AMPLitude]", setVoltage, {A::Volts, A::Channels}, 1},
    {"[SOURce:]VOLTage[:LEVel][:IMMediate][:AMPLitude]?", queryVoltage, {A::Number, A::Channels}, 0},
    {"[SOURce:]VOLTage[:LEVel][:IMMediate][:AMPLitude]?", queryVoltage, {A::Channels}, 0},
    {"[SOURce:]CURRent[:LEVel][:IMMediate][:AMPLitude]", setCurrent, {A::Amperes, A::Channels}, 1},
    {"[SOURce:]CURRent[:LEVel][:IMMediate][:AMPLitude]?", queryCurrent, {A::Number, A::Channels}, 0},
    {"[SOURce:]CURRent[:LEVel][:IMMediate][:AMPLitude]?", queryCurrent, {A::Channels}, 0},
    {"APPLy", apply, {A::Word, A::Volts, A::Amperes}, 2},
    {"APPLy?", queryApply, {A::Word}, 0},
    {"MEASure[:SCALar]:VOLTage[:DC]?", measureVoltage, {A::Channels}, 0},
    {"MEASure[:SCALar]:CURRent[:DC]?", measureCurrent, {A::Channels}, 0},
    {"FETCh[:SCALar]:VOLTage[:DC]?", fetchVoltage, {A::Channels}, 0},
    {"FETCh[:SCALar]:CURRent[:DC]?", fetchCurrent, {A::Channels}, 0},
    {"OUTPut:MODE?", queryMode, {A::Channels}, 0},
    {"STATus:QUEStionable:INSTrument:ISUMmary#:CONDition?", queryCondition, {}, 0},
    {"OUTPut:CHANnel[:STATe]", setChannelOutput, {A::Boolean, A::Channels}, 2},
    {"OUTPut:CHANnel[:STATe]?", queryChannelOutput, {A::Channels}, 1},
    {"OUTPut[:STATe]", setOutput, {A::Boolean, A::Channels}, 1},
    {"OUTPut[:STATe]?", queryOutput, {}, 0},
};

const std::vector<ScpiCommand>& table()
{
    static const std::vector<ScpiCommand> commands = ScpiWithCommonCommands(kSupply);
    return commands;
}

} // namespace

const std::vector<ScpiCommand>& RemoteCommandTable()
{
    return table();
}
