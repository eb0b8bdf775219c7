#include "callback_guard.h"

#include <QTimer>

#include <deque>
#include <utility>

namespace {

int gDepth = 0;
std::deque<std::function<void()>> gHeldBack;

// After the loop has turned once: what was held back runs as events of its
// own, never inside the tail of the callback that held it.
void runHeldBack()
{
    while (!gHeldBack.empty() && gDepth == 0) {
        std::function<void()> work = std::move(gHeldBack.front());
        gHeldBack.pop_front();
        work();
    }
}

} // namespace

bool callbackRunning()
{
    return gDepth > 0;
}

bool workHeldBack()
{
    return !gHeldBack.empty();
}

void whenNoCallbackRuns(std::function<void()> work)
{
    if (gDepth == 0 && gHeldBack.empty()) {
        work();
        return;
    }
    gHeldBack.push_back(std::move(work));
}

CallbackRun::CallbackRun()
{
    ++gDepth;
}

CallbackRun::~CallbackRun()
{
    if (--gDepth == 0 && !gHeldBack.empty())
        QTimer::singleShot(0, [] { runHeldBack(); });
}
