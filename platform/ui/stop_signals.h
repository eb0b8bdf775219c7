// SIGINT, SIGTERM and SIGHUP (Ctrl+C, a service manager, a closed terminal)
// end the event loop the way the program's own Quit does, so the program
// shuts down in full and exits normally instead of dying with its supply
// still in remote. SIGPIPE and SIGXFSZ are ignored: a closed pipe on standard
// output or a file-size limit makes a write fail, which the writer reports,
// instead of killing the process.
#pragma once

#include <functional>

// Installs the handlers; `onStop` then runs on the event loop's thread, once
// per signal delivered. The handler itself only raises a flag and writes a
// byte to a pipe.
bool installStopSignals(std::function<void()> onStop);

// True from the moment a stop signal arrived, also outside the event loop
// (during start-up, or inside a callback doing slow work).
bool stopSignalled();
