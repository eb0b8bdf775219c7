// One railmon per supply: a second one commanding the same device would
// fight the first over its outputs. The device is one per machine, so the
// lock is too: a file named after the device address in the machine's lock
// directory for devices, which every user's railmon finds, any user can
// take, and none can delete or redirect. It is held until the process ends.
#pragma once

#include <string>

struct DeviceLock {
    enum State {
        Held,      // this railmon holds it
        InUse,     // another railmon holds it: `holder` says which
        Unguarded, // no lock could be taken at all: `problem` says why
    } state = Unguarded;
    std::string holder;  // "process 1234 of user alice"
    std::string problem; // "/run/lock/railmon-USB_1_1.lock: Permission denied"
};

// RAILMON_LOCK_DIR, when set, names another directory for the lock (the
// tests give each run its own).
DeviceLock lockDevice(const char* address);
