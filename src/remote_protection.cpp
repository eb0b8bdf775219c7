// The protection commands: levels, arming, trip on CC, the tripped queries
// and the clear, each taking the panel's own path (protection.h), so the
// panel, the configuration file and the export follow a script's change.
#include "protection.h"
#include "remote_commands.h"

#include "number_text.h"

#include <cmath>

namespace {

void setLevel(ScpiCall& call, ProtectionLimit limit)
{
    const std::vector<int> channels = RemoteChannelsOf(call, 1);
    std::vector<double> levels;
    // Every channel's level checked before any is kept: a list refused
    // half-way would leave some channels at the new level, some not.
    for (int ch : channels) {
        double level = RemoteValueFor(call, 0, protectLevel[limit][ch - 1]);
        if (std::isnan(level))
            return;
        // DEF is the top of the range, as a level starts without a file:
        // 0 would trip at the first reading.
        if (call.limit(0) == ScpiLimit::Default) {
            double lowest = 0;
            ProtectionLevelRange(ch - 1, limit, lowest, level);
        }
        levels.push_back(level);
    }
    for (std::size_t i = 0; i < channels.size(); ++i) {
        std::string why;
        if (!ProtectionSetLevel(channels[i] - 1, limit, levels[i], why))
            return call.error(-222, "Data out of range;" + why);
        RemoteNoteSetRemotely(protectLevel[limit][channels[i] - 1]);
    }
    RemoteNoteChange(std::string(limit == PROTECT_VOLTAGE ? "VOLT:PROT " : "CURR:PROT ") +
                     fixedText(levels[0], kProtectionLevelDecimals) + "," + RemoteChannelText(channels));
}

void queryLevel(ScpiCall& call, ProtectionLimit limit)
{
    for (int ch : RemoteChannelsOf(call, 0)) {
        const ChannelProtection& p = ProtectionOf(ch - 1);
        call.answer(fixedText(limit == PROTECT_VOLTAGE ? p.voltageLevel : p.currentLevel, kProtectionLevelDecimals));
    }
}

void arm(ScpiCall& call, ProtectionLimit limit, bool armed, const std::string& what)
{
    const std::vector<int> channels = RemoteChannelsOf(call, 1);
    for (int ch : channels) {
        ProtectionArm(ch - 1, limit, armed);
        RemoteNoteSetRemotely(protectArm[limit][ch - 1]);
    }
    RemoteNoteChange(what + "," + RemoteChannelText(channels));
}

void queryArmed(ScpiCall& call, ProtectionLimit limit, const char* on, const char* off)
{
    for (int ch : RemoteChannelsOf(call, 0))
        call.answer(ProtectionOf(ch - 1).armed[limit] ? on : off);
}

// 1 for each listed channel that tripped on one of `limits`: a script
// polls this to tell which channel's fault switched the outputs off.
void queryTripped(ScpiCall& call, std::initializer_list<ProtectionLimit> limits)
{
    const ProtectionTrip& trip = ProtectionTripped();
    for (int ch : RemoteChannelsOf(call, 0)) {
        bool tripped = false;
        for (ProtectionLimit limit : limits)
            tripped = tripped || (trip.tripped && trip.ch == ch - 1 && trip.limit == limit);
        call.answer(tripped ? "1" : "0");
    }
}

} // namespace

void RemoteSetVoltageProtection(ScpiCall& call)
{
    setLevel(call, PROTECT_VOLTAGE);
}

void RemoteQueryVoltageProtection(ScpiCall& call)
{
    queryLevel(call, PROTECT_VOLTAGE);
}

void RemoteSetCurrentProtection(ScpiCall& call)
{
    setLevel(call, PROTECT_CURRENT);
}

void RemoteQueryCurrentProtection(ScpiCall& call)
{
    queryLevel(call, PROTECT_CURRENT);
}

void RemoteArmVoltageProtection(ScpiCall& call)
{
    arm(call, PROTECT_VOLTAGE, call.boolean(0), call.boolean(0) ? "VOLT:PROT:STAT ON" : "VOLT:PROT:STAT OFF");
}

void RemoteQueryVoltageProtectionArmed(ScpiCall& call)
{
    queryArmed(call, PROTECT_VOLTAGE, "1", "0");
}

void RemoteArmCurrentProtection(ScpiCall& call)
{
    arm(call, PROTECT_CURRENT, call.boolean(0), call.boolean(0) ? "CURR:PROT:STAT ON" : "CURR:PROT:STAT OFF");
}

void RemoteQueryCurrentProtectionArmed(ScpiCall& call)
{
    queryArmed(call, PROTECT_CURRENT, "1", "0");
}

// LIMit: the supply limits the current at its setpoint (CC); TRIP: a
// reading in CC trips the protection.
void RemoteSetCurrentProtectionMode(ScpiCall& call)
{
    const std::string& mode = call.text(0);
    const bool trip = mode == "TRIP";
    if (!trip && mode != "LIM" && mode != "LIMIT")
        return call.error(-224);
    arm(call, PROTECT_CC, trip, trip ? "CURR:PROT:MODE TRIP" : "CURR:PROT:MODE LIM");
}

void RemoteQueryCurrentProtectionMode(ScpiCall& call)
{
    queryArmed(call, PROTECT_CC, "TRIP", "LIM");
}

void RemoteQueryVoltageTripped(ScpiCall& call)
{
    queryTripped(call, {PROTECT_VOLTAGE});
}

// Over-current and trip on CC are both the current's protection.
void RemoteQueryCurrentTripped(ScpiCall& call)
{
    queryTripped(call, {PROTECT_CURRENT, PROTECT_CC});
}

// Nothing tripped: nothing to clear, and no error. A trip the supply has
// not confirmed off holds: -221 with the reason.
void RemoteClearProtection(ScpiCall& call)
{
    if (!ProtectionTripped().tripped)
        return;
    if (const std::string refusal = ProtectionClearRefusal(); !refusal.empty())
        return call.error(-221, "Settings conflict;" + refusal);
    if (ProtectionClear("a remote client"))
        RemoteNoteChange("OUTP:PROT:CLE");
}
