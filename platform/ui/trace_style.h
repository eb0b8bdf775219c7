// How a chart looks, the same on the panel and in railmon-plot's pictures:
// each trace its own colour and its own line style, so two traces at the
// same value stay apart (a dashed line over a solid one shows both); the
// legend beside the plot, never over the newest data; the time axis in
// local time (time_ticker.h).
#pragma once

#include <qcustomplot.h>

// The pen of trace k (0-based). One pixel wide and not antialiased: a
// repaint of an hour of four traces stays well within a frame.
QPen tracePen(int k);

// Gives graph k of a chart its trace's look.
void styleTrace(QCPGraph* graph, int k);

// A time axis labelled in local time, as TimeTicker does it.
void useTimeAxis(QCPAxis* axis);

// Moves the plot's legend out of the axis rect into a column of its own at
// the right of `row` of the main layout, `topGap` pixels below its top.
void placeLegendBeside(QCustomPlot* plot, int row, int topGap);
