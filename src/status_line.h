// The status line below the charts: what the panel's controls cannot show
// by themselves. Four fields: the supply (which library, which model, or
// why there is none), the readings (whether the last sweep delivered any,
// since when not, and a timer that falls behind), the log and the export
// (each written by its own file). A field is repainted only when its text
// or colour changes.
#pragma once

#include <ctime>
#include <string>

// What binding and the first query learnt, for the operator: which file was
// loaded, why binding failed, the model name the supply reported.
struct SupplyFacts {
    std::string library;    // the file loaded; empty when none was
    std::string problem;    // why binding failed; empty when it did not
    bool simulated = false; // the simulated supply that comes with railmon
    std::string model;      // as TMI_ModelNameQ wrote it
};
extern SupplyFacts gSupply;

// Writes one field of the main panel, with its background colour.
void showStatus(int control, const std::string& text, int colour);

// "14:03:07" in local time; empty when the time cannot be converted.
std::string clockTime(std::time_t when);

// Once start-up has bound the library, opened the connection and asked the
// model name: the supply's field and the window's title. `unguarded` says
// why no other railmon is kept from the supply, when none is.
void showSupplyStatus(int deviceId, const char* address, const std::string& unguarded);

// After a sweep of `swept` channels of which `delivered` gave a reading;
// `timer` for a tick, whose pace is reported when it falls behind.
void showReadingsStatus(int swept, int delivered, bool timer);

// The timer's pace is measured afresh: it was stopped or its interval changed.
void restartPace();
// A tick begins.
void noteTick();
