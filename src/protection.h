// Protection: per channel an over-voltage level [V], an over-current level
// [A] (both on the magnitude, so a negative channel works as a positive one)
// and "trip on CC", each armed or not. The vendor library has no such call,
// so railmon protects from its own readings: a reading of an enabled channel
// that breaks an armed limit switches the main output off with the very next
// library call, and the trip is latched until the operator or a script
// clears it. It is therefore as fast as the readings come: the timer's
// interval plus one call. The levels and their arming are kept in the
// user's configuration (protection_file.h); a trip is not.
#pragma once

#include "railmon.h"

#include <string>

enum ProtectionLimit { PROTECT_VOLTAGE, PROTECT_CURRENT, PROTECT_CC, PROTECT_LIMITS };

// Decimals of a level wherever railmon shows, answers or keeps one: the
// level controls' own, so the panel, a script and the file hold one number.
inline constexpr int kProtectionLevelDecimals = 3;

// The CV/CC code the panel labels CC.
inline constexpr int kCodeCC = 1;

struct ChannelProtection {
    bool armed[PROTECT_LIMITS] = {};
    double voltageLevel = 0; // [V], on the magnitude
    double currentLevel = 0; // [A], on the magnitude
};

// What tripped: the first limit broken since the last clear.
struct ProtectionTrip {
    bool tripped = false;
    int ch = -1;
    ProtectionLimit limit = PROTECT_VOLTAGE;
    double value = 0; // the reading that broke it [V] or [A]
    double level = 0;
    std::string at; // "14:03:07"
};

// At start-up, once the panel shows the supply's state: the kept levels
// loaded (or refused, saying why) and shown on the panel.
void ProtectionSetUp(int panel);

// Called with every reading railmon takes of channel index `ch` (the
// timer's, Read's, a script's MEAS) as soon as the supply delivered it,
// before it is shown and before any other library call. Returns true when it tripped the protection.
bool ProtectionCheck(int panel, int ch, const TMI_MonitorReading& reading);

const ChannelProtection& ProtectionOf(int ch);
const ProtectionTrip& ProtectionTripped();
// "Tripped: CH +6V 0.812 A > 0.750 A at 14:03:07"; empty when not tripped.
std::string ProtectionTripText();

// A level for channel index `ch` (PROTECT_VOLTAGE or PROTECT_CURRENT), as
// the operator's entry or a script sets it: refused, with `why`, outside the
// range of the level's control. Shown, kept in the configuration.
bool ProtectionSetLevel(int ch, ProtectionLimit limit, double level, std::string& why);
// The range a level may take [V] or [A].
bool ProtectionLevelRange(int ch, ProtectionLimit limit, double& lowest, double& highest);
void ProtectionArm(int ch, ProtectionLimit limit, bool armed);
// Why the trip cannot be cleared now (none, or the supply does not confirm
// its outputs off); empty when it can.
std::string ProtectionClearRefusal();
// Ends a trip; the outputs stay off. False when it cannot be cleared. `by`
// says who, on stdout.
bool ProtectionClear(const char* by);
// The operator's clear: the trip's reason shown, cleared once confirmed.
bool ProtectionConfirmClear();

// The switch may not be switched on: why (the trip text), or empty.
std::string ProtectionRefusesOn();

// The status field and each channel's mark, after anything that changes
// whether readings come: a tick or Read, the timer switched, a channel
// enabled or disabled.
void ProtectionShowState();

// The panel's controls of a limit, by channel index.
extern const int protectArm[PROTECT_LIMITS][CHANNELS];
extern const int protectLevel[PROTECT_CURRENT + 1][CHANNELS];
