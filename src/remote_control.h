// Remote control: scripts on this computer drive the supply through
// railmon as through any SCPI instrument on a raw TCP socket. Every change
// a script makes takes the panel's own path (Set, Read, the main output
// switch, the preset selector, a channel's Enabled button), so the panel,
// the log, the charts, the export and the status line see no difference.
// Single-threaded: everything runs in the event loop's callbacks.
// docs/remote-control.md has the commands, the errors, the limits and who
// may connect.
#pragma once

#include <string>

// What the command line asked for.
struct RemoteOptions {
    bool start = false; // --remote: on from start-up
    int port = 5025;    // SCPI's raw socket port, or --remote=PORT
};

// Takes one command-line argument: false with `problem` set for a bad
// --remote=PORT; an argument that is not --remote is left to the runtime.
bool RemoteParseOption(const char* argument, RemoteOptions& options, std::string& problem);
// railmon's --help text.
const char* RemoteUsage();

// At start-up, once the panel shows the supply: the status field, and
// the server started when the options say so.
void RemoteSetUp(int panel, const RemoteOptions& options);
// Before the supply is handed back at exit: every client cut off.
void RemoteShutDown();

// How many clients may be connected at once, and how much a client may
// leave unread before it is cut off [bytes].
inline constexpr int kRemoteMaxClients = 4;
inline constexpr int kRemoteMaxUnread = 64 * 1024;
