// A strip chart: a fixed number of traces that each gain one point per plot,
// against wall-clock time, keeping only the newest points (the history) so a
// chart that runs for days costs the same memory as one that ran a minute.
#pragma once

#include <qcustomplot.h>

#include <QElapsedTimer>
#include <QTimer>

class StripChart : public QCustomPlot {
    Q_OBJECT
public:
    explicit StripChart(QWidget* parent = nullptr);

    // Sets the number of traces and the points kept per trace (>= 2).
    void configure(int traceCount, int history);
    int traceCount() const { return graphCount(); }
    int history() const { return history_; }

    // Trace numbers start at 1, as the runtime's callers count them.
    bool setTraceLabel(int trace, const QString& label);
    // One new point per trace at the present time; values[k] goes to trace k+1.
    void plot(const double* values, int count);

    // The largest magnitude drawn; beyond it a value is drawn as a gap, as
    // the axis could not scale to it.
    static double largestDrawable();

private:
    void requestReplot();

    // Paces repaints to the display's frame rate: a burst of plots, or a
    // timer faster than the eye, costs one repaint per frame.
    QTimer frameTimer_;
    int history_ = 600;
    // Chart time runs on a monotonic clock from the wall-clock time at which
    // the chart was made, so a wall clock set back (or forward) neither piles
    // points into one instant nor tears a hole in the history.
    QElapsedTimer clock_;
    double startWall_ = 0.0; // seconds since the epoch
    double lastKey_ = 0.0;   // seconds since the epoch
};
