#include "trace_style.h"

#include "time_ticker.h"

#include <iterator>

namespace {
// Distinct on white and in grey-scale print-outs.
const QColor kTraceColours[] = {QColor(200, 30, 30), QColor(30, 90, 200),  QColor(20, 150, 60),
                                QColor(160, 90, 10), QColor(120, 40, 160), QColor(0, 140, 140)};
// Cosmetic dashes draw as fast as solid lines; a wider pen would not.
const Qt::PenStyle kTraceStyles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine, Qt::DashDotDotLine};
} // namespace

QPen tracePen(int k)
{
    QPen pen(kTraceColours[k % std::size(kTraceColours)], 1.0);
    pen.setStyle(kTraceStyles[k % std::size(kTraceStyles)]);
    return pen;
}

void styleTrace(QCPGraph* graph, int k)
{
    graph->setPen(tracePen(k));
    graph->setAntialiased(false);
    graph->setAdaptiveSampling(true);
}

void useTimeAxis(QCPAxis* axis)
{
    axis->setTicker(QSharedPointer<TimeTicker>::create(axis));
}

void placeLegendBeside(QCustomPlot* plot, int row, int topGap)
{
    QCPLegend* legend = plot->legend;
    if (QCPLayout* holder = legend->layout())
        holder->take(legend);
    if (QCPAxisRect* rect = plot->axisRect())
        rect->insetLayout()->simplify();
    auto* column = new QCPLayoutGrid;
    plot->plotLayout()->addElement(row, 1, column);
    auto* gap = new QCPLayoutElement(plot);
    gap->setMinimumSize(0, topGap);
    gap->setMaximumSize(QWIDGETSIZE_MAX, topGap);
    column->addElement(0, 0, gap);
    column->addElement(1, 0, legend);
    column->addElement(2, 0, new QCPLayoutElement(plot)); // the rest of the height
    column->setRowStretchFactor(0, 0.01);
    column->setRowStretchFactor(1, 0.01);
    column->setRowSpacing(0);
    column->setMargins(QMargins(0, 0, 0, 0));
    legend->setVisible(true);
    legend->setBorderPen(Qt::NoPen);
    legend->setBrush(Qt::NoBrush);
    legend->setIconSize(24, 10);
    legend->setFont(QFont(plot->font().family(), 8));
    plot->plotLayout()->setColumnStretchFactor(1, 0.001);
}
