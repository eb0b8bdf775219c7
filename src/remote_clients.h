// What remote control keeps between events: the clients, each with its
// parser state, channel selection and remote mode, and the server. Shared by
// the command handlers (remote_control.cpp) and the connections, the panel
// lock and the status field (remote_server.cpp); everything runs in the
// event loop's callbacks, so nothing is locked.
#pragma once

#include "scpi.h"

#include <list>
#include <string>
#include <vector>

// SYSTem:LOCal, :REMote, :RWLock: whether a client drives the supply as
// remote, and whether it keeps the operator off the panel's setpoints.
enum class Mode { Local, Remote, Locked };

struct Client {
    int handle = 0;
    std::string peer;
    ScpiClientState scpi;
    ScpiLineBuffer lines;
    int channel = 1; // INSTrument:NSELect, 1..4
    Mode mode = Mode::Local;
};

struct Remote {
    int panel = 0;
    int port = 5025;
    int server = -1; // >= 0 while listening
    std::string why; // why it is off, when it could not start
    std::list<Client> clients;
    std::string lastEvent; // "last OUTP ON at 14:03:07"
    std::string lockedBy;  // the clients that locked the panel, as shown
};
extern Remote gRemote;

// The status field: the port, the clients, the lock, the last change.
void showRemoteStatus();
// Locks the panel while a client holds it locked (SYSTem:RWLock) and
// releases it once none does; shows the status.
void applyLock();

// The supply's command table with the common commands.
const std::vector<ScpiCommand>& RemoteCommandTable();
