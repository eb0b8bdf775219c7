// The simulated supply's non-volatile memory: the preset memories and the
// active preset, kept in a small text file between runs.
//
//   railmon-sim-state 1
//   active <preset>
//   <preset> <channel> <volts> <amps>     (one line per preset and channel)
#pragma once

#include "sim_supply.h"

#include <optional>
#include <string>

namespace sim {

// TMI_SIM_STATE when set; otherwise tmi-sim.state in the user's state
// directory ($XDG_STATE_HOME/railmon, or ~/.local/state/railmon); empty when
// there is no such directory.
std::string stateFilePath();

struct LoadedMemory {
    std::optional<Memory> memory; // nullopt: no file, or one not to be used
    std::string problem;          // why a file that exists was not used
};
LoadedMemory loadMemory(const std::string& path);

// Written to a temporary file and renamed over the old one, so a crash at
// any moment leaves either the old memory or the new one, never a mix.
bool saveMemory(const std::string& path, const Memory& memory, std::string* problem);

} // namespace sim
