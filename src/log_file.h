// The measurement log, railmon.log in the working directory: a header line,
// then one tab-separated record per logged reading. What it is promised:
// - whole ticks only: a tick's records are written with one write at the
//   tick's end, and a write the disk cannot take whole is cut back, so the
//   file always ends with the last whole tick;
// - a regular file of its own only, never opened through a link (symbolic
//   or hard), with one writer (a lock on railmon.log.lock beside it), the
//   previous run's log kept as railmon.log.1;
// - deleted, renamed away (rotated) or cut (rotated by copying) under
//   railmon, it is noticed before the next tick is written to it and
//   logging goes on in a new railmon.log or at the cut file's end;
// - synced at most once a second, beside the event loop.
// The log's status field on the panel says where it goes and what it lost.
#pragma once

#include "railmon.h"

// One reading of channel index `ch` into this tick's records; the first of
// the run opens the file (emptied, with its header). False when the log
// cannot be opened; it is tried again at the next logged reading, and the
// tick is then not logged at all.
bool LogWrite(int ch, const TMI_MonitorReading& reading);

// The tick's records in one write, or none of them.
void LogFinishTick();

// Logging is switched on: a previous log that could not be kept is tried
// again (once per switching on, never at every tick), and what happened to
// the file earlier no longer shows.
void LogSwitchedOn();

// Closes the log, if it was opened, once the last of it has reached the
// disk. Shutdown's last step.
void LogClose(void);

// The log's status field: off, armed, where it writes and how many
// records, or why it cannot.
void showLogStatus();
