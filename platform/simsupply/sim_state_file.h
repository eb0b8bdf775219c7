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
// directory ($XDG_STATE_HOME/railmon, or ~/.local/state/railmon; on Windows
// %LOCALAPPDATA%\railmon); empty when there is no such directory. Saving
// creates the directory.
std::string stateFilePath();

struct LoadedMemory {
    std::optional<Memory> memory; // nullopt: no file, or one not to be used
    std::string problem;          // why a file that exists was not used
};
// Reads only a regular file of a state file's size: a FIFO, a device or
// anything huge named there is refused without blocking or reading it.
LoadedMemory loadMemory(const std::string& path);

// Written to a temporary file of its own (created exclusively, so nothing
// planted under its name is written through) and renamed over the old one,
// so a crash at any moment leaves either the old memory or the new one.
bool saveMemory(const std::string& path, const Memory& memory, std::string* problem);

// Holds an exclusive lock on the state file's companion "<path>.lock" for
// its lifetime, so that two processes sharing one state file read, change
// and write it one at a time and lose none of each other's changes.
class StateFileLock {
public:
    explicit StateFileLock(const std::string& path);
    ~StateFileLock();
    StateFileLock(const StateFileLock&) = delete;
    StateFileLock& operator=(const StateFileLock&) = delete;
    bool held() const { return lock_ != -1; }

private:
    int lock_ = -1; // the lock file's descriptor
};

} // namespace sim
