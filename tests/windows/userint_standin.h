// A stand-in for the user-interface runtime (userint.h), for railmon's code
// on Windows, where Debian has no Qt: controls are values in a table, pop-ups
// are lines on standard output, and the event loop runs the operator it was
// given, if any, and ends.
#pragma once

#include "userint.h"

// What a control holds: the last value set, or what the shipped panel
// starts with (channels enabled, interval 1 s, everything else 0).
double standinValue(int control);
// As if the operator had entered `value` into the control.
void standinEnter(int control, double value);
// The last ATTR_TEXT_BGCOLOR set on a control; VAL_DEFAULT_COLOR if none.
int standinBackground(int control);

// Runs inside RunUserInterface, as the operator would; without one the
// loop ends at once.
void standinSetOperator(void (*work)());
