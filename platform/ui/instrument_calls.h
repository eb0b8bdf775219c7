// Calls into the instrument's library, made on a thread of their own while
// the event loop's thread keeps the windows alive (CallInstrument in
// userint.h). The program's model stays what it was: its callbacks run on
// the loop's thread one at a time, its calls are made one at a time in the
// order it makes them, and nothing it shares is locked; only the wait for a
// call is spent turning the loop instead of blocked in the library.
//
// While a call is under way:
// - the windows are painted and a quit is heard (closing the window, a
//   control marked VAL_WHILE_WAITING_QUITS, a stop signal);
// - the operator's other input is kept and delivered once the running
//   callback has returned, so nothing is acted on in another callback's
//   middle and nothing is lost;
// - a switch marked VAL_WHILE_WAITING_OFF switched off is kept for the
//   program to take between two calls (TakeWaitingCommit);
// - once the call has taken about half a second, the panel shows what it
//   waits for and since when, and its controls are shown unavailable but for
//   the marked ones (input to an unavailable control is refused, never kept).
#pragma once

#include <functional>

class QWidget;

// True while the loop's thread waits for a call.
bool instrumentCallUnderWay();

// A control's commit while a callback runs, as its ATTR_WHILE_WAITING says:
// a quit, a switch-off kept for the program, or `commit` held back until
// the running callback has returned.
void commitWhileCallbackRuns(int panel, int control, std::function<void()> commit);

// A commit kept for TakeWaitingCommit, taken or not yet.
bool takeWaitingCommit(int& panel, int& control);

// Ends the look of waiting at once (a panel is shown, or discarded).
void endWaitingLook();

// ATTR_DIMMED: a dimmed control is not made available again when the look
// of waiting ends, and one undimmed while the look is shown waits for its
// end like the others.
void setProgramDimmed(QWidget* widget, bool dimmed);
