// SIGINT and SIGTERM (Ctrl+C, a service manager, logout) end the event loop
// the way the program's own Quit does, so the program shuts down in full
// and exits normally instead of dying with its supply still in remote.
#pragma once

#include <functional>

// Installs the handlers; `onStop` then runs on the event loop's thread, once
// per signal delivered. The handler itself only writes a byte to a pipe.
bool installStopSignals(std::function<void()> onStop);
