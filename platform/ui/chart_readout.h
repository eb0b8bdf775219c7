// Reading values off a chart: where the cursor points, a vertical line at
// the nearest plotted instant and a box with its time and each shown
// trace's value there ("---" where a trace has none), on the plot's overlay
// layer; following the cursor costs at most one repaint per frame.
#pragma once

#include <qcustomplot.h>

#include <QList>
#include <QString>

class ChartReadout {
public:
    explicit ChartReadout(QCustomPlot* plot);

    // Shows the readout for the pixel column x of the plot's axis rect;
    // hides it when x is outside or no trace has a point.
    void showAt(int x);
    void hide();
    bool visible() const;
    QString text() const;

    // The readout's text for the instant nearest `key` of the graphs: the
    // time, then one "label  value" line per graph. Empty when none of them
    // has a point.
    static QString textAt(const QList<QCPGraph*>& graphs, double key, double* nearestKey = nullptr);

private:
    QCustomPlot* plot_;
    QCPItemStraightLine* line_;
    QCPItemText* box_;
};
