#include "log_plot.h"

#include "chart_export.h"
#include "trace_style.h"

#include <qcustomplot.h>

#include <QFileInfo>
#include <QSvgGenerator>

#include <algorithm>
#include <cmath>

const char* const kChannelLabels[LogSeries::kChannels] = {"CH +18V", "CH -18V", "CH +6V", "CH -6V"};

namespace {

// Stretches of time shaded across an axis rect, under the traces. Stretches
// closer than a pixel are filled as one, so a channel that flips between CV
// and CC every tick costs a fill per pixel column at most.
class Shading : public QCPAbstractItem {
public:
    Shading(QCustomPlot* plot, QCPAxisRect* rect, std::vector<Stretch> stretches, QColor colour)
        : QCPAbstractItem(plot)
        , rect_(rect)
        , stretches_(std::move(stretches))
        , colour_(colour)
    {
        setClipAxisRect(rect);
        setClipToAxisRect(true);
        setSelectable(false);
        setLayer(QStringLiteral("grid"));
    }
    double selectTest(const QPointF&, bool, QVariant*) const override { return -1; }

protected:
    void draw(QCPPainter* painter) override
    {
        const QCPAxis* keys = rect_->axis(QCPAxis::atBottom);
        const QCPRange range = keys->range();
        auto it = std::lower_bound(stretches_.begin(), stretches_.end(), range.lower,
                                   [](const Stretch& s, double key) { return s.end < key; });
        painter->setPen(Qt::NoPen);
        painter->setBrush(colour_);
        double runBegin = NAN, runEnd = NAN; // [px]
        auto fill = [&] {
            if (!std::isnan(runBegin))
                painter->drawRect(QRectF(runBegin, rect_->top(), std::max(runEnd - runBegin, 1.0), rect_->height()));
        };
        for (; it != stretches_.end() && it->begin <= range.upper; ++it) {
            const double begin = keys->coordToPixel(it->begin), end = keys->coordToPixel(it->end);
            if (!std::isnan(runEnd) && begin <= runEnd + 1.0) {
                runEnd = std::max(runEnd, end);
                continue;
            }
            fill();
            runBegin = begin;
            runEnd = end;
        }
        fill();
    }

private:
    QCPAxisRect* rect_;
    std::vector<Stretch> stretches_;
    QColor colour_;
};

QCPAxisRect* addQuantity(QCustomPlot* plot, int row, const QString& label)
{
    QCPAxisRect* rect = row == 1 ? plot->axisRect() : new QCPAxisRect(plot);
    if (row != 1)
        plot->plotLayout()->addElement(row, 0, rect);
    useTimeAxis(rect->axis(QCPAxis::atBottom));
    rect->axis(QCPAxis::atLeft)->setLabel(label);
    return rect;
}

QCPGraph* addTrace(QCustomPlot* plot, QCPAxisRect* rect, int channel, const std::vector<TracePoint>& points)
{
    QCPGraph* graph = plot->addGraph(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
    styleTrace(graph, channel);
    graph->setName(QString::fromLatin1(kChannelLabels[channel]));
    QVector<QCPGraphData> data;
    data.reserve(int(points.size()));
    for (const TracePoint& p : points)
        data.append(QCPGraphData(p.key, p.value));
    graph->data()->set(data, true);
    return graph;
}

} // namespace

PictureFormat pictureFormatOf(const QString& path)
{
    return formatByExtension(path,
                             {{"png", PictureFormat::Png}, {"svg", PictureFormat::Svg}, {"pdf", PictureFormat::Pdf}},
                             PictureFormat::Unknown);
}

bool plotLog(const LogSeries& series, const QString& title, int width, int height, const QString& path, QString* error)
{
    QCustomPlot plot;
    plot.plotLayout()->insertRow(0);
    plot.plotLayout()->addElement(0, 0, new QCPTextElement(&plot, title, QFont(plot.font().family(), 10)));
    QCPAxisRect* voltage = addQuantity(&plot, 1, QStringLiteral("Voltage [V]"));
    QCPAxisRect* current = addQuantity(&plot, 2, QStringLiteral("Current [A]"));
    placeLegendBeside(&plot, 1, 0);
    plot.legend->setFont(QFont(plot.font().family(), 9));

    for (int ch = 0; ch < LogSeries::kChannels; ++ch) {
        if (!series.ccStretches(ch).empty()) {
            QColor shade = tracePen(ch).color();
            shade.setAlpha(45);
            new Shading(&plot, voltage, series.ccStretches(ch), shade);
            new Shading(&plot, current, series.ccStretches(ch), shade);
        }
    }
    bool inLegend[LogSeries::kChannels] = {};
    for (const auto& segment : series.segments()) {
        for (int ch = 0; ch < LogSeries::kChannels; ++ch) {
            if (segment[ch].volts.empty())
                continue;
            QCPGraph* v = addTrace(&plot, voltage, ch, segment[ch].volts);
            QCPGraph* i = addTrace(&plot, current, ch, segment[ch].amperes);
            i->removeFromLegend();
            // One entry per channel, however many segments it has.
            if (inLegend[ch])
                v->removeFromLegend();
            inLegend[ch] = true;
        }
    }
    double lower = 0, upper = 0;
    if (!series.keyRange(&lower, &upper)) {
        lower = QDateTime::currentSecsSinceEpoch() - 60.0;
        upper = lower + 60.0;
    }
    if (upper - lower < 1.0)
        upper = lower + 1.0;
    for (QCPAxisRect* rect : {voltage, current}) {
        rect->axis(QCPAxis::atBottom)->setRange(lower, upper);
        // Scaled to the traces with a margin, so a flat one is not on the edge.
        bool found = false;
        QCPRange values;
        for (QCPGraph* graph : rect->graphs()) {
            bool has = false;
            const QCPRange r = graph->data()->valueRange(has);
            if (has) {
                values = found ? values.expanded(r) : r;
                found = true;
            }
        }
        if (found) {
            const double margin = std::max(0.05 * values.size(), 0.01);
            rect->axis(QCPAxis::atLeft)->setRange(values.lower - margin, values.upper + margin);
        }
    }
    // Both quantities share the time axis' left edge.
    auto* margins = new QCPMarginGroup(&plot);
    voltage->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
    current->setMarginGroup(QCP::msLeft | QCP::msRight, margins);

    // Laid out twice at the final size: the time axis picks its steps from
    // the width it was last laid out at.
    plot.resize(width, height);
    plot.replot();
    plot.replot();

    bool written = false;
    switch (pictureFormatOf(path)) {
    case PictureFormat::Png:
        written = plot.savePng(path, width, height);
        break;
    case PictureFormat::Pdf:
        written = plot.savePdf(path, width, height);
        break;
    case PictureFormat::Svg: {
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(QSize(width, height));
        svg.setViewBox(QRect(0, 0, width, height));
        svg.setTitle(title);
        QCPPainter painter;
        written = painter.begin(&svg);
        if (written) {
            plot.toPainter(&painter, width, height);
            written = painter.end();
        }
        // QSvgGenerator reports no write error: check what it left.
        written = written && QFileInfo(path).size() > 0;
        break;
    }
    case PictureFormat::Unknown:
        break;
    }
    if (!written)
        *error = QStringLiteral("cannot write %1").arg(path);
    return written;
}
