#include "timer_control.h"

#include <QList>

#include <algorithm>
#include <cmath>

namespace {
QList<TimerControl*>& allTimers()
{
    static QList<TimerControl*> timers;
    return timers;
}
bool gLoopRunning = false;

// Longest interval QTimer can hold, in milliseconds.
constexpr double kMaxIntervalMs = 2147483647.0;
} // namespace

TimerControl::TimerControl(double intervalSeconds, bool enabled, QObject* parent)
    : QObject(parent)
    , intervalSeconds_(1.0)
    , enabled_(enabled)
{
    // Coarse timers may be off by 5 %, which shows as jitter on a 20 ms chart.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (onTick)
            onTick();
        sinceTick_.start();
    });
    setIntervalSeconds(intervalSeconds);
    allTimers().append(this);
    update();
}

TimerControl::~TimerControl()
{
    allTimers().removeOne(this);
}

bool TimerControl::setIntervalSeconds(double seconds)
{
    if (!std::isfinite(seconds) || seconds <= 0.0)
        return false;
    intervalSeconds_ = seconds;
    const double ms = std::clamp(std::round(seconds * 1000.0), 1.0, kMaxIntervalMs);
    // An active QTimer restarts with the new interval, so the pace changes at once.
    timer_.setInterval(static_cast<int>(ms));
    return true;
}

void TimerControl::update()
{
    const bool run = enabled_ && gLoopRunning;
    if (run && !timer_.isActive()) {
        timer_.start();
        sinceTick_.start();
    } else if (!run && timer_.isActive()) {
        timer_.stop();
    }
}

bool TimerControl::overdue() const
{
    constexpr double kIntervals = 3.0, kAtLeastMs = 1000.0;
    return sinceTick_.isValid() &&
        static_cast<double>(sinceTick_.elapsed()) > std::max(kIntervals * intervalSeconds_ * 1000.0, kAtLeastMs);
}

void TimerControl::updateAll()
{
    for (TimerControl* timer : allTimers())
        timer->update();
}

void TimerControl::setLoopRunning(bool running)
{
    gLoopRunning = running;
    updateAll();
}

void TimerControl::setAllEnabled(bool enabled)
{
    for (TimerControl* timer : allTimers()) {
        timer->enabled_ = enabled;
        timer->update();
    }
}
