#include "strip_chart.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

namespace {
// Distinct on white and in grey-scale print-outs.
const QColor kTraceColours[] = {QColor(200, 30, 30), QColor(30, 90, 200),  QColor(20, 150, 60),
                                QColor(160, 90, 10), QColor(120, 40, 160), QColor(0, 140, 140)};
constexpr int kFrameMs = 16; // about 60 frames per second
} // namespace

StripChart::StripChart(QWidget* parent)
    : QCustomPlot(parent)
{
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeFormat(QStringLiteral("HH:mm:ss"));
    ticker->setTickCount(5);
    xAxis->setTicker(ticker);
    legend->setVisible(true);
    legend->setFont(QFont(font().family(), 8));
    legend->setBrush(QColor(255, 255, 255, 200)); // the newest data shows through
    axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
    setMinimumSize(320, 180);
    frameTimer_.setSingleShot(true);
    frameTimer_.setInterval(kFrameMs);
    connect(&frameTimer_, &QTimer::timeout, this, [this] { replot(rpQueuedReplot); });
    configure(4, history_);
    startWall_ = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    clock_.start();
}

double StripChart::largestDrawable()
{
    // Two such values and the axis margin still make a range the chart takes.
    return QCPRange::maxRange / 4;
}

void StripChart::requestReplot()
{
    if (!frameTimer_.isActive())
        frameTimer_.start();
}

void StripChart::configure(int traceCount, int history)
{
    history_ = history;
    clearGraphs();
    for (int k = 0; k < traceCount; ++k) {
        QCPGraph* graph = addGraph();
        graph->setPen(QPen(kTraceColours[k % std::size(kTraceColours)], 1.5));
        graph->setName(QStringLiteral("Trace %1").arg(k + 1));
    }
    requestReplot();
}

bool StripChart::setTraceLabel(int trace, const QString& label)
{
    if (trace < 1 || trace > graphCount())
        return false;
    graph(trace - 1)->setName(label);
    requestReplot();
    return true;
}

void StripChart::plot(const double* values, int count)
{
    // Keys strictly increase, also for two plots within a millisecond or a
    // clock set back: trimming by key then keeps exactly the history.
    const double now = std::max(startWall_ + clock_.nsecsElapsed() / 1e9, lastKey_ + 1e-6); // seconds
    lastKey_ = now;
    bool haveRange = false;
    QCPRange valueRange;
    double oldest = now;
    for (int k = 0; k < graphCount() && k < count; ++k) {
        const QSharedPointer<QCPGraphDataContainer> data = graph(k)->data();
        // A missing, infinite or unscalable value is drawn as a gap, the
        // honest "no reading"; drawn, it would wreck the axis range.
        const double value = std::fabs(values[k]) <= largestDrawable() ? values[k] : std::nan("");
        data->add(QCPGraphData(now, value));
        if (data->size() > history_)
            data->removeBefore((data->constEnd() - history_)->key);
        oldest = std::min(oldest, data->constBegin()->key);
        bool found = false;
        const QCPRange range = data->valueRange(found);
        if (found) {
            valueRange = haveRange ? valueRange.expanded(range) : range;
            haveRange = true;
        }
    }
    // At least ten seconds across, so the time labels never repeat.
    xAxis->setRange(std::min(oldest, now - 10.0), now);
    if (haveRange) {
        // A flat trace still gets a visible band around it.
        const double margin = std::max(0.05 * valueRange.size(), 0.01);
        yAxis->setRange(valueRange.lower - margin, valueRange.upper + margin);
    }
    requestReplot();
}
