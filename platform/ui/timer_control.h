// A timer control: no widget, only a period and an enabled state from the
// panel file. It delivers ticks while it is enabled and the event loop runs;
// ticks never arrive before RunUserInterface starts, so start-up pop-ups
// cannot be interrupted by one. The panel file's enabled state is whether
// ticks flow at start; suspending and resuming timer callbacks switches every
// timer control, so a panel can start with its acquisition stopped and the
// program can start it.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

class TimerControl : public QObject {
    Q_OBJECT
public:
    TimerControl(double intervalSeconds, bool enabled, QObject* parent = nullptr);
    ~TimerControl() override;

    // Refuses a non-positive or non-finite interval, keeping the old one.
    bool setIntervalSeconds(double seconds);
    double intervalSeconds() const { return intervalSeconds_; }
    bool enabled() const { return enabled_; }

    // True when the last tick ended longer ago than a few intervals (at
    // least a second) while ticks were due: something held the loop, and
    // what the ticks showed is old.
    bool overdue() const;

    std::function<void()> onTick;

    // Delivery as a whole: every timer control follows these.
    static void setLoopRunning(bool running);
    static void setAllEnabled(bool enabled);

private:
    void update();
    static void updateAll();

    QTimer timer_;
    double intervalSeconds_;
    bool enabled_;
    QElapsedTimer sinceTick_; // since the last tick ended, or ticks started
};
