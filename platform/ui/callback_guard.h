// The application's callbacks never overlap: every callback, timer tick and
// remote command runs on the event loop's thread, one at a time. While one
// runs, the loop may still turn (the runtime keeps the panel painted while a
// callback waits for its instrument), so whatever would start another
// callback then is held back until the running one has returned.
#pragma once

#include <functional>

// True while an application callback runs.
bool callbackRunning();

// Runs `work` at once when no callback runs, else right after the running
// one has returned (in the order given).
void whenNoCallbackRuns(std::function<void()> work);

// True while work given to whenNoCallbackRuns waits for its turn: what comes
// later and is no callback of its own yet queues behind it.
bool workHeldBack();

// Marks one callback's run for as long as it lives.
class CallbackRun {
public:
    CallbackRun();
    ~CallbackRun();
    CallbackRun(const CallbackRun&) = delete;
    CallbackRun& operator=(const CallbackRun&) = delete;
};
