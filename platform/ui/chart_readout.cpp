#include "chart_readout.h"

#include "time_ticker.h"

#include <cmath>

namespace {
// The nearest point's key and value, or false when the graph has no point.
bool nearest(const QCPGraph* graph, double key, double* foundKey, double* value)
{
    const auto data = graph->data();
    if (data->isEmpty())
        return false;
    auto it = data->findBegin(key, false); // first point at or after key
    if (it == data->constEnd() || (it != data->constBegin() && key - (it - 1)->key < it->key - key))
        --it;
    *foundKey = it->key;
    *value = it->value;
    return true;
}
} // namespace

ChartReadout::ChartReadout(QCustomPlot* plot)
    : plot_(plot)
    , line_(new QCPItemStraightLine(plot))
    , box_(new QCPItemText(plot))
{
    for (QCPAbstractItem* item : {static_cast<QCPAbstractItem*>(line_), static_cast<QCPAbstractItem*>(box_)}) {
        item->setLayer(QStringLiteral("overlay"));
        item->setSelectable(false);
        item->setVisible(false);
    }
    line_->setPen(QPen(QColor(80, 80, 80), 1, Qt::DotLine));
    box_->setPositionAlignment(Qt::AlignTop | Qt::AlignLeft);
    box_->setTextAlignment(Qt::AlignLeft);
    box_->setFont(QFont(plot->font().family(), 8));
    box_->setPadding(QMargins(4, 2, 4, 2));
    box_->setBrush(QColor(255, 255, 255, 230));
    box_->setPen(QPen(QColor(160, 160, 160)));
    box_->position->setType(QCPItemPosition::ptAbsolute);
}

QString ChartReadout::textAt(const QList<QCPGraph*>& graphs, double key, double* nearestKey)
{
    QStringList lines;
    double shownKey = NAN;
    for (const QCPGraph* graph : graphs) {
        double at = 0, value = 0;
        if (nearest(graph, key, &at, &value) && std::isnan(shownKey))
            shownKey = at;
    }
    if (std::isnan(shownKey))
        return {};
    lines << TimeTicker::label(shownKey, QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    for (const QCPGraph* graph : graphs) {
        double at = 0, value = 0;
        const bool found = nearest(graph, shownKey, &at, &value) && at == shownKey && std::isfinite(value);
        lines << QStringLiteral("%1  %2").arg(graph->name(), found ? QString::number(value, 'g', 6) : "---");
    }
    if (nearestKey)
        *nearestKey = shownKey;
    return lines.join(QLatin1Char('\n'));
}

void ChartReadout::showAt(int x)
{
    QCPAxisRect* rect = plot_->axisRect();
    QList<QCPGraph*> shown;
    for (int k = 0; k < plot_->graphCount(); ++k)
        if (plot_->graph(k)->visible())
            shown << plot_->graph(k);
    double key = 0;
    const QString text =
        x >= rect->left() && x <= rect->right() ? textAt(shown, plot_->xAxis->pixelToCoord(x), &key) : QString();
    if (text.isEmpty()) {
        hide();
        return;
    }
    const double px = plot_->xAxis->coordToPixel(key);
    line_->point1->setCoords(key, 0);
    line_->point2->setCoords(key, 1);
    box_->setText(text);
    // The box on the side of the line with more room, so it stays whole.
    const bool left = px > rect->center().x();
    box_->setPositionAlignment(Qt::AlignTop | (left ? Qt::AlignRight : Qt::AlignLeft));
    box_->position->setPixelPosition(QPointF(left ? px - 6 : px + 6, rect->top() + 4));
    line_->setVisible(true);
    box_->setVisible(true);
    plot_->update();
}

void ChartReadout::hide()
{
    if (!box_->visible())
        return;
    line_->setVisible(false);
    box_->setVisible(false);
    plot_->update();
}

bool ChartReadout::visible() const
{
    return box_->visible();
}

QString ChartReadout::text() const
{
    return box_->visible() ? box_->text() : QString();
}
