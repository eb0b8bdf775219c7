// What the supply's SCPI command handlers share, for the files that hold
// handlers beside remote_control.cpp; the one command table stays there.
#pragma once

#include "scpi.h"

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

// The channels (1..4) parameter `i` lists, else the client's selected one.
std::vector<int> RemoteChannelsOf(ScpiCall& call, std::size_t i);
// The value parameter `i` asks for on `control`, checked against the
// control's range (MIN, MAX and DEF as the setpoints take them); NaN with
// the error queued when it is out of range.
double RemoteValueFor(ScpiCall& call, std::size_t i, int control);
// "(@1,3)"
std::string RemoteChannelText(const std::vector<int>& channels);
// A change a script made, said on the status line and in the tooltip of
// each control it changed.
void RemoteNoteChange(const std::string& what, std::initializer_list<int> controls = {});
void RemoteNoteSetRemotely(int control);

// Protection (remote_protection.cpp).
void RemoteSetVoltageProtection(ScpiCall& call);
void RemoteQueryVoltageProtection(ScpiCall& call);
void RemoteSetCurrentProtection(ScpiCall& call);
void RemoteQueryCurrentProtection(ScpiCall& call);
void RemoteArmVoltageProtection(ScpiCall& call);
void RemoteQueryVoltageProtectionArmed(ScpiCall& call);
void RemoteArmCurrentProtection(ScpiCall& call);
void RemoteQueryCurrentProtectionArmed(ScpiCall& call);
void RemoteSetCurrentProtectionMode(ScpiCall& call);
void RemoteQueryCurrentProtectionMode(ScpiCall& call);
void RemoteQueryVoltageTripped(ScpiCall& call);
void RemoteQueryCurrentTripped(ScpiCall& call);
void RemoteClearProtection(ScpiCall& call);
