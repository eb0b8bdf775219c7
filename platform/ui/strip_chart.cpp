#include "strip_chart.h"

#include "accessible_widgets.h"
#include "chart_export.h"
#include "gap_rule.h"
#include "trace_style.h"

#include <QDateTime>
#include <QSignalBlocker>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace {
constexpr int kFrameMs = 16;          // about 60 frames per second
constexpr double kShortestView = 1.0; // [s] zoomed in as far as it goes
// The views a young history fills, from the left, before the view slides [s].
constexpr double kYoungSpans[] = {10, 15, 20, 30, 45, 60, 90, 120, 180, 240};
const QColor kHiddenTrace(160, 160, 160);

// The chart keeps its own picture (StripChart::picture_) and draws new
// points onto it. QCustomPlot's own replots (on a resize, a drag) still lay
// out and draw their layers into a paint buffer; this one is a single pixel,
// never shown, so what they draw there is clipped away at once.
class UnshownBuffer : public QCPAbstractPaintBuffer {
public:
    UnshownBuffer()
        : QCPAbstractPaintBuffer(QSize(1, 1), 1.0)
        , pixel_(1, 1)
    {
    }
    QCPPainter* startPainting() override { return new QCPPainter(&pixel_); }
    void draw(QCPPainter*) const override { }
    void clear(const QColor&) override { }

protected:
    void reallocateBuffer() override { }

private:
    QPixmap pixel_;
};

// A legend entry that measures its text only when the text or the font
// changed, and draws from a picture of itself made then: the layout asks
// every entry's size at every frame and each frame draws it, and each would
// shape the text anew.
class LegendEntry : public QCPPlottableLegendItem {
public:
    using QCPPlottableLegendItem::QCPPlottableLegendItem;

    QSize minimumOuterSizeHint() const override
    {
        const QString name = mPlottable->name();
        const QFont font = getFont();
        const QSize icon = mParentLegend->iconSize();
        const int padding = mParentLegend->iconTextPadding();
        if (size_.isEmpty() || name != name_ || font != font_ || icon != icon_ || padding != padding_ ||
            mMargins != margins_) {
            size_ = QCPPlottableLegendItem::minimumOuterSizeHint();
            name_ = name;
            font_ = font;
            icon_ = icon;
            padding_ = padding;
            margins_ = mMargins;
        }
        return size_;
    }

protected:
    void draw(QCPPainter* painter) override
    {
        // Vector output (PDF, SVG) keeps its text as text.
        if (painter->modes() & (QCPPainter::pmVectorized | QCPPainter::pmNoCaching)) {
            QCPPlottableLegendItem::draw(painter);
            return;
        }
        const qreal ratio = painter->device()->devicePixelRatioF();
        const Look look{mPlottable->name(),
                        getFont(),
                        getTextColor(),
                        mPlottable->pen(),
                        mParentLegend->iconSize(),
                        mParentLegend->iconTextPadding(),
                        mRect.size(),
                        ratio,
                        painter->renderHints()};
        if (picture_.isNull() || !(look == look_)) {
            picture_ = QPixmap(mRect.size() * ratio);
            picture_.setDevicePixelRatio(ratio);
            picture_.fill(Qt::transparent);
            QCPPainter inPicture(&picture_);
            inPicture.setRenderHints(painter->renderHints());
            inPicture.translate(-mRect.topLeft());
            QCPPlottableLegendItem::draw(&inPicture);
            look_ = look;
        }
        painter->drawPixmap(mRect.topLeft(), picture_);
    }

private:
    // All a picture of the entry depends on.
    struct Look {
        QString name;
        QFont font;
        QColor text;
        QPen pen;
        QSize icon;
        int padding = 0;
        QSize size;
        qreal ratio = 1.0;
        QPainter::RenderHints hints;
        bool operator==(const Look&) const = default;
    };
    QPixmap picture_;
    Look look_;
    mutable QSize size_;
    mutable QString name_;
    mutable QFont font_;
    mutable QSize icon_;
    mutable int padding_ = 0;
    mutable QMargins margins_;
};

double wallNow()
{
    return QDateTime::currentMSecsSinceEpoch() / 1000.0; // seconds since the epoch
}
} // namespace

StripChart::StripChart(QWidget* parent)
    : QCustomPlot(parent)
    , readout_(this)
    , live_(new QToolButton(this))
{
    useTimeAxis(xAxis);
    // The chart's picture covers all of it: what lies beneath need not be
    // painted at each frame. All layers share one buffer (the overlay is
    // logical, below), the unshown one.
    setAttribute(Qt::WA_OpaquePaintEvent);
    const QSharedPointer<QCPAbstractPaintBuffer> unshown(new UnshownBuffer);
    if (mPaintBuffers.isEmpty())
        mPaintBuffers.append(unshown);
    else
        mPaintBuffers[0] = unshown;
    live_->setText(QStringLiteral("Live"));
    live_->setCheckable(true);
    live_->setChecked(true);
    live_->setToolTip(QStringLiteral("Follow the newest data (or double-click the chart, or End)"));
    // The chart itself is the focus stop: its keys do what the button does.
    live_->setFocusPolicy(Qt::NoFocus);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleDescription(QString::fromLatin1(kKeys));
    live_->adjustSize();
    connect(live_, &QToolButton::toggled, this, [this](bool on) { setFollowing(on); });
    placeLegendBeside(this, 0, live_->sizeHint().height() + 6);

    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    axisRect()->setRangeDrag(Qt::Horizontal);
    axisRect()->setRangeZoom(Qt::Horizontal);
    axisRect()->setRangeZoomFactor(kWheelZoom, kWheelZoom);
    // One paint buffer for everything: frames are painted onto the window.
    layer(QStringLiteral("overlay"))->setMode(QCPLayer::lmLogical);
    setMouseTracking(true);
    setMinimumSize(320, 180);

    connect(xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, &StripChart::timeRangeChanged);
    connect(yAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, &StripChart::valueRangeChanged);
    connect(this, &QCustomPlot::legendClick, this,
            [this](QCPLegend*, QCPAbstractLegendItem* item, QMouseEvent*) { legendClicked(item); });
    connect(this, &QCustomPlot::beforeReplot, this, &StripChart::layOutForWidth);

    frameTimer_.setSingleShot(true);
    frameTimer_.setInterval(kFrameMs);
    connect(&frameTimer_, &QTimer::timeout, this, &StripChart::paintFrame);
    startWall_ = wallNow();
    clock_.start();
    configure(4, kDefaultHistorySeconds, kDefaultMaxPointsPerTrace);
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

void StripChart::paintFrame()
{
    update(frameChanges());
}

void StripChart::paintFrameNow()
{
    repaint(frameChanges());
}

QRegion StripChart::frameChanges()
{
    updateView();
    // A following view moves under a resting cursor: read there again.
    if (readout_.visible())
        readout_.showAt(hoverX_);
    if (pictureCurrent())
        return drawNewPoints(); // empty when nothing new is in view
    return frameRegion();
}

void StripChart::layOutForWidth()
{
    // Ticks are made at the start of a layout from the axis' width at the
    // last one: after a resize, lay out once more so they fit the new width.
    if (viewport().width() != laidOutWidth_) {
        laidOutWidth_ = viewport().width();
        updateLayout();
    }
}

StripChart::PictureKey StripChart::pictureKey() const
{
    return {viewport(),     devicePixelRatioF(), xAxis->range(),     yAxis->range(),
            xAxis->label(), yAxis->label(),      readout_.visible(), looks_};
}

bool StripChart::pictureCurrent() const
{
    // The hover readout moves with the cursor: drawn anew each time.
    return !picture_.isNull() && !pictureStale_ && !readout_.visible() && pictureKey() == pictured_;
}

void StripChart::renderPicture()
{
    const qreal ratio = devicePixelRatioF();
    if (picture_.size() != size() * ratio || picture_.devicePixelRatio() != ratio) {
        picture_ = QPixmap(size() * ratio);
        picture_.setDevicePixelRatio(ratio);
    }
    QCPPainter painter(&picture_);
    layOutForWidth();
    painter.fillRect(rect(), mBackgroundBrush);
    draw(&painter); // lays out, then draws every layer
    pictured_ = pictureKey();
    pictureStale_ = false;
    drawnUpTo_.fill(-std::numeric_limits<double>::infinity(), graphCount());
    dashOffsets_.fill(0.0, graphCount());
    for (int k = 0; k < graphCount(); ++k)
        if (!graph(k)->data()->isEmpty())
            drawnUpTo_[k] = (graph(k)->data()->constEnd() - 1)->key;
}

QRect StripChart::drawNewPoints()
{
    // The segments from each trace's last drawn point to its new ones, as
    // the trace's line draws them, clipped as QCustomPlot clips its traces.
    const QRect clip = axisRect()->rect().translated(0, -1);
    QCPPainter painter(&picture_);
    painter.setClipRect(clip);
    QRectF added;
    bool drewAny = false;
    for (int k = 0; k < graphCount() && k < drawnUpTo_.size(); ++k) {
        const QCPGraph* trace = graph(k);
        const QSharedPointer<QCPGraphDataContainer> data = trace->data();
        auto it = data->findEnd(drawnUpTo_[k], false); // the first point after the last drawn
        if (it == data->constEnd())
            continue;
        const double newest = (data->constEnd() - 1)->key;
        if (!trace->visible()) {
            drawnUpTo_[k] = newest;
            continue;
        }
        painter.setAntialiasing(trace->antialiased());
        QPen pen = trace->pen();
        const double unit = std::max(1.0, pen.widthF()); // [px] per dash unit
        auto from = it == data->constBegin() ? data->constEnd() : it - 1;
        for (; it != data->constEnd(); from = it, ++it) {
            // A missing value is a gap, as in the whole trace.
            if (from == data->constEnd() || std::isnan(from->value) || std::isnan(it->value))
                continue;
            const QLineF segment(xAxis->coordToPixel(from->key), yAxis->coordToPixel(from->value),
                                 xAxis->coordToPixel(it->key), yAxis->coordToPixel(it->value));
            // A dashed trace keeps its dashes' rhythm across the segments.
            pen.setDashOffset(dashOffsets_[k]);
            painter.setPen(pen);
            painter.drawLine(segment);
            dashOffsets_[k] += segment.length() / unit;
            const QRectF bounds = QRectF(segment.p1(), segment.p2()).normalized();
            added = drewAny ? added.united(bounds) : bounds;
            drewAny = true;
        }
        drawnUpTo_[k] = newest;
    }
    if (!drewAny)
        return {};
    return added.toAlignedRect().adjusted(-2, -2, 2, 2).intersected(clip);
}

QRegion StripChart::frameRegion() const
{
    // The Live button above the chart does not change with a frame: leaving
    // it out spares repainting it (its style's bevel) at every frame.
    return QRegion(rect()).subtracted(live_->geometry());
}

void StripChart::configure(int traceCount, double historySeconds, int maxPointsPerTrace)
{
    historySeconds_ = historySeconds;
    maxPoints_ = std::max(2, maxPointsPerTrace);
    trimmedSinceCompact_ = 0;
    valuesChanged_ = true;
    plottedUpTo_ = usualStep_ = gapStep_ = gapKey_ = NAN;
    ++looks_;
    clearGraphs();
    for (int k = 0; k < traceCount; ++k) {
        QCPGraph* graph = addGraph();
        styleTrace(graph, k);
        graph->setName(QStringLiteral("Trace %1").arg(k + 1));
        if (QCPPlottableLegendItem* item = legend->itemWithPlottable(graph)) {
            legend->removeItem(item);
            legend->addItem(new LegendEntry(legend, graph));
        }
        graph->data()->setAutoSqueeze(false);
    }
    const QSignalBlocker block(xAxis);
    const double now = std::max(lastKey_, startWall_);
    xAxis->setRange(now - kYoungSpans[0], now);
    requestReplot();
}

bool StripChart::setTraceLabel(int trace, const QString& label)
{
    if (trace < 1 || trace > graphCount())
        return false;
    graph(trace - 1)->setName(label);
    ++looks_;
    requestReplot();
    return true;
}

bool StripChart::traceShown(int trace) const
{
    return trace >= 1 && trace <= graphCount() && graph(trace - 1)->visible();
}

void StripChart::setTraceShown(int trace, bool shown)
{
    if (trace < 1 || trace > graphCount())
        return;
    QCPGraph* g = graph(trace - 1);
    g->setVisible(shown);
    valuesChanged_ = true;
    if (QCPPlottableLegendItem* item = legend->itemWithPlottable(g))
        item->setTextColor(shown ? Qt::black : kHiddenTrace);
    ++looks_;
    readout_.hide();
    requestReplot();
    announceDescriptionChanged(this); // it says which traces are shown
}

void StripChart::legendClicked(QCPAbstractLegendItem* item)
{
    auto* entry = qobject_cast<QCPPlottableLegendItem*>(item);
    if (!entry)
        return;
    for (int k = 0; k < graphCount(); ++k)
        if (graph(k) == entry->plottable())
            setTraceShown(k + 1, !graph(k)->visible());
}

bool StripChart::trim(QCPGraphDataContainer& data, double now, bool shown)
{
    auto cut = data.findBegin(now - historySeconds_, false); // the first point kept by time
    if (data.constEnd() - cut > maxPoints_)
        cut = data.constEnd() - maxPoints_;
    // The view changes only where a trimmed point was in the scanned view
    // and the last at an edge of the values it was scaled to.
    bool changesView = false;
    const bool counted = shown && haveScanned_ && !valuesChanged_;
    for (auto it = data.constBegin(); counted && it != cut && !changesView; ++it)
        changesView = scaledFor_.contains(it->key) && !std::isnan(it->value) && !valueLeaves(it->value);
    if (cut != data.constBegin()) {
        // A point leaving the picture's view is drawn out of it anew.
        if ((cut - 1)->key >= xAxis->range().lower)
            pictureStale_ = true;
        data.removeBefore(cut->key);
    }
    return changesView;
}

double StripChart::gapBefore(double now)
{
    const double step = now - plottedUpTo_; // [s] NaN for the first point
    plottedUpTo_ = now;
    if (!std::isnan(gapStep_)) {
        // A step as long as the one taken as a gap: the operator slowed the
        // pace, and no reading was missed.
        if (!isGapStep(gapStep_, step)) {
            for (int k = 0; k < graphCount(); ++k)
                graph(k)->data()->remove(gapKey_);
            pictureStale_ = true;
            usualStep_ = gapStep_;
        }
        gapStep_ = NAN;
    }
    if (std::isnan(step))
        return NAN;
    if (!std::isnan(usualStep_) && isGapStep(step, usualStep_)) {
        gapStep_ = step;
        // Where the next reading was due, as railmon-plot puts it.
        gapKey_ = now - step + usualStep_;
        return gapKey_;
    }
    usualStep_ = step;
    return NAN;
}

void StripChart::plot(const double* values, int count)
{
    plotAt(startWall_ + clock_.nsecsElapsed() / 1e9, values, count);
}

void StripChart::plotAt(double key, const double* values, int count)
{
    // Keys strictly increase, also for two plots within a millisecond or a
    // clock set back: trimming by key then keeps exactly the history.
    const double now = std::max(key, lastKey_ + 1e-6); // seconds since the epoch
    lastKey_ = now;
    // A following view takes the new point in as it slides (updateView),
    // or at once where it already holds the point's time.
    const bool entersScanned = following_ && haveScanned_ && !valuesChanged_ && scaledFor_.contains(now);
    if (!following_ && xAxis->range().contains(now))
        valuesChanged_ = true;
    const double gapKey = gapBefore(now);
    for (int k = 0; k < graphCount() && k < count; ++k) {
        const QSharedPointer<QCPGraphDataContainer> data = graph(k)->data();
        // A missing, infinite or unscalable value is drawn as a gap, the
        // honest "no reading"; drawn, it would wreck the axis range.
        const double value = std::fabs(values[k]) <= largestDrawable() ? values[k] : std::nan("");
        const int before = data->size();
        const int added = std::isnan(gapKey) ? 1 : 2;
        if (added == 2)
            data->add(QCPGraphData(gapKey, std::nan("")));
        data->add(QCPGraphData(now, value));
        if (entersScanned && graph(k)->visible() && !std::isnan(value)) {
            valueEnters(value);
            valuesEntered_ = true;
        }
        if (trim(*data, now, graph(k)->visible()))
            valuesChanged_ = true;
        if (k == 0)
            trimmedSinceCompact_ += before + added - data->size();
    }
    if (trimmedSinceCompact_ > std::max(maxPoints_ / 8, 64)) {
        for (int k = 0; k < graphCount(); ++k)
            graph(k)->data()->squeeze(true, false);
        trimmedSinceCompact_ = 0;
    }
    requestReplot();
}

void StripChart::updateView()
{
    settingView_ = true;
    if (following_ && graphCount() > 0 && !graph(0)->data()->isEmpty())
        xAxis->setRange(followingView(graph(0)->data()->constBegin()->key));
    if (!valueAxisFixed_) {
        bool rescale = valuesEntered_;
        if (valuesChanged_ || !haveScanned_ || xAxis->range() != scaledFor_) {
            const QCPRange view = xAxis->range();
            const bool have = (haveScanned_ && !valuesChanged_ && slideValues(view)) || scanValues(view);
            scaledFor_ = view;
            valuesChanged_ = false;
            haveScanned_ = have;
            rescale = true;
        }
        if (rescale && haveScanned_) {
            // A flat trace still gets a visible band around it.
            const double margin = std::max(0.05 * scannedValues_.size(), 0.01);
            yAxis->setRange(scannedValues_.lower - margin, scannedValues_.upper + margin);
        }
    }
    valuesEntered_ = false;
    settingView_ = false;
}

QCPRange StripChart::followingView(double oldest) const
{
    const double widest = std::min(kDefaultViewSeconds, historySeconds_);
    const double age = lastKey_ - oldest; // [s]
    if (age < widest) {
        // A young history fills a view from the left that widens in steps:
        // the axes stay put between steps, so a frame draws only the new
        // points instead of the whole chart.
        for (double span : kYoungSpans)
            if (span >= age && span < widest)
                return {oldest, oldest + span};
        return {oldest, oldest + widest};
    }
    // Then the view slides a whole pixel at a time, the newest point in its
    // last pixel: between steps the axes again stay put.
    double upper = lastKey_;
    if (const int pixels = axisRect()->width(); pixels > 0) {
        const double perPixel = widest / pixels; // [s]
        upper = std::ceil(lastKey_ / perPixel) * perPixel;
    }
    return {upper - widest, upper};
}

bool StripChart::scanValues(const QCPRange& view)
{
    bool have = false;
    for (int k = 0; k < graphCount(); ++k) {
        if (!graph(k)->visible())
            continue;
        const QSharedPointer<QCPGraphDataContainer> data = graph(k)->data();
        for (auto it = data->findBegin(view.lower, false); it != data->constEnd() && it->key <= view.upper; ++it) {
            if (std::isnan(it->value))
                continue;
            if (!have) {
                scannedValues_ = QCPRange(it->value, it->value);
                atLower_ = atUpper_ = 1;
                have = true;
            } else
                valueEnters(it->value);
        }
    }
    if (!have) {
        scannedValues_ = QCPRange();
        atLower_ = atUpper_ = 0;
    }
    return have;
}

void StripChart::valueEnters(double value)
{
    if (value < scannedValues_.lower) {
        scannedValues_.lower = value;
        atLower_ = 1;
    } else if (value == scannedValues_.lower)
        ++atLower_;
    if (value > scannedValues_.upper) {
        scannedValues_.upper = value;
        atUpper_ = 1;
    } else if (value == scannedValues_.upper)
        ++atUpper_;
}

bool StripChart::valueLeaves(double value)
{
    if (value == scannedValues_.lower && --atLower_ <= 0)
        return false;
    if (value == scannedValues_.upper && --atUpper_ <= 0)
        return false;
    return true;
}

bool StripChart::slideValues(const QCPRange& view)
{
    // Only a view that moved forward, overlapping the last one, slides.
    if (view.lower < scaledFor_.lower || view.upper < scaledFor_.upper || view.lower > scaledFor_.upper)
        return false;
    for (int k = 0; k < graphCount(); ++k) {
        if (!graph(k)->visible())
            continue;
        const QSharedPointer<QCPGraphDataContainer> data = graph(k)->data();
        for (auto it = data->findBegin(scaledFor_.lower, false); it != data->constEnd() && it->key < view.lower; ++it)
            if (!std::isnan(it->value) && !valueLeaves(it->value))
                return false;
        for (auto it = data->findEnd(scaledFor_.upper, false); it != data->constEnd() && it->key <= view.upper; ++it)
            if (!std::isnan(it->value))
                valueEnters(it->value);
    }
    return true;
}

void StripChart::setFollowing(bool follow)
{
    following_ = follow;
    {
        const QSignalBlocker block(live_);
        live_->setChecked(follow);
    }
    if (follow)
        valueAxisFixed_ = false;
    valuesChanged_ = true;
    requestReplot();
}

void StripChart::setValueAxisFixed(bool fixed)
{
    valueAxisFixed_ = fixed;
    valuesChanged_ = true;
    requestReplot();
}

void StripChart::showWholeHistory()
{
    setFollowing(false);
    if (graphCount() > 0 && !graph(0)->data()->isEmpty()) {
        settingView_ = true;
        xAxis->setRange(graph(0)->data()->constBegin()->key, lastKey_);
        settingView_ = false;
    }
    valueAxisFixed_ = false;
    valuesChanged_ = true;
    requestReplot();
}

void StripChart::timeRangeChanged(const QCPRange& range)
{
    if (settingView_)
        return;
    // The operator moved the time axis: hold the view there.
    setFollowing(false);
    settingView_ = true;
    const double longest = historySeconds_ * 1.05;
    if (range.size() < kShortestView)
        xAxis->setRange(range.center(), kShortestView, Qt::AlignCenter);
    else if (range.size() > longest)
        xAxis->setRange(range.center(), longest, Qt::AlignCenter);
    settingView_ = false;
}

void StripChart::valueRangeChanged()
{
    if (!settingView_)
        valueAxisFixed_ = true;
}

bool StripChart::exportView(const QString& path, QString* error)
{
    const ChartFormat format = chartFormatOf(path);
    if (format == ChartFormat::Unknown) {
        if (error)
            *error = QStringLiteral("%1: not a .png, .pdf or .csv file name").arg(path);
        return false;
    }
    if (format == ChartFormat::Csv) {
        QList<QCPGraph*> traces;
        for (int k = 0; k < graphCount(); ++k)
            traces << graph(k);
        return saveChartCsv(traces, xAxis->range(), path, error);
    }
    readout_.hide();
    updateView();
    const bool saved = saveChartPicture(this, path, format, error);
    // Saving lays the chart out at the picture's size: lay out again.
    ++looks_;
    update(frameRegion());
    return saved;
}

void StripChart::paintEvent(QPaintEvent* event)
{
    if (!pictureCurrent()) {
        renderPicture();
        // Asked to show a part, while all of it changed.
        if (!frameRegion().subtracted(event->region()).isEmpty())
            update(frameRegion());
    }
    QPainter painter(this);
    const qreal ratio = picture_.devicePixelRatio();
    for (const QRect& part : event->region())
        painter.drawPixmap(part, picture_, QRectF(QPointF(part.topLeft()) * ratio, QSizeF(part.size()) * ratio));
    if (hasFocus()) {
        // Plainly visible from a step away, in the style's own highlight.
        painter.setPen(QPen(palette().color(QPalette::Highlight), 3));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5));
    }
}

void StripChart::changeEvent(QEvent* event)
{
    QCustomPlot::changeEvent(event);
    ++looks_; // fonts, palette, style: the picture is made anew
}

void StripChart::resizeEvent(QResizeEvent*)
{
    // Not QCustomPlot's own, which replots at once into the unshown buffer:
    // the picture is made anew at the next paint in any case (its key holds
    // the viewport), so every step of a resize drew each chart twice.
    setViewport(rect());
    update();
    placeLiveButton();
}

void StripChart::placeLiveButton()
{
    live_->move(width() - live_->width() - 4, 3);
}
