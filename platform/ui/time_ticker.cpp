#include "time_ticker.h"

#include "remembered.h"

#include <QDateTime>
#include <QFontMetrics>

#include <cmath>
#include <iterator>

namespace {

struct Step {
    double seconds;
    const char* format;
    int subTicks;
};

// Steps a reader counts in, each with the coarsest format that still tells
// its ticks apart.
const Step kSteps[] = {
    {0.1, "HH:mm:ss.z", 1}, {0.2, "HH:mm:ss.z", 1}, {0.5, "HH:mm:ss.z", 4},    {1, "HH:mm:ss", 4},
    {2, "HH:mm:ss", 1},     {5, "HH:mm:ss", 4},     {10, "HH:mm:ss", 1},       {15, "HH:mm:ss", 2},
    {30, "HH:mm:ss", 2},    {60, "HH:mm", 3},       {120, "HH:mm", 1},         {300, "HH:mm", 4},
    {600, "HH:mm", 1},      {900, "HH:mm", 2},      {1800, "HH:mm", 2},        {3600, "HH:mm", 3},
    {7200, "HH:mm", 1},     {10800, "HH:mm", 2},    {21600, "d MMM HH:mm", 5}, {43200, "d MMM HH:mm", 1},
    {86400, "d MMM", 3},    {172800, "d MMM", 1},   {604800, "d MMM yyyy", 6}, {2592000, "d MMM yyyy", 1},
    {31536000, "yyyy", 3},
};

// Room between two labels, as a share of a label's width, at least a few pixels.
constexpr double kGapShare = 0.25;
constexpr int kMinGapPx = 8;

// The widest a label of this format gets: every digit at its widest, the
// longest month name.
int widestLabel(const QFontMetrics& metrics, const QString& format)
{
    static const QDateTime sample(QDate(2000, 9, 28), QTime(23, 58, 58, 800));
    return metrics.horizontalAdvance(QLocale().toString(sample, format));
}

} // namespace

TimeTicker::TimeTicker(const QCPAxis* axis)
    : axis_(axis)
    , format_(QString::fromLatin1(kSteps[3].format))
{
    setTickCount(5);
}

QString TimeTicker::label(double key, const QString& format)
{
    const auto msecs = static_cast<qint64>(std::llround(key * 1000.0));
    return QLocale().toString(QDateTime::fromMSecsSinceEpoch(msecs), format);
}

double TimeTicker::getTickStep(const QCPRange& range)
{
    const double middle = range.center();
    // Local time's offset changes only on a whole minute: asked once a
    // minute, not at every frame (each asking reads the time zone anew).
    const double minute = std::isfinite(middle) && std::fabs(middle) < 1e13 ? std::floor(middle / 60.0) : 0.0;
    if (minute != offsetMinute_) { // always so the first time: it starts as NaN
        const int offset =
            minute != 0.0 ? QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(minute * 60000.0)).offsetFromUtc() : 0;
        if (offset != utcOffset_)
            labels_.clear(); // made in the offset before
        utcOffset_ = offset;
        offsetMinute_ = minute;
    }
    // Before the first layout the axis has no width yet: assume a small chart.
    const int pixels = axis_ && axis_->axisRect() && axis_->axisRect()->width() > 0 ? axis_->axisRect()->width() : 300;
    const QVector<int>& widths = labelWidths();
    const Step* chosen = std::end(kSteps) - 1;
    for (std::size_t i = 0; i < std::size(kSteps); ++i) {
        const int width = widths[int(i)];
        const double needed = width + std::max(kGapShare * width, double(kMinGapPx)); // [px] per step
        if (kSteps[i].seconds / range.size() * pixels >= needed) {
            chosen = &kSteps[i];
            break;
        }
    }
    format_ = QString::fromLatin1(chosen->format);
    step_ = chosen->seconds;
    return step_;
}

const QVector<int>& TimeTicker::labelWidths()
{
    const QFont font = axis_ ? axis_->tickLabelFont() : QFont();
    if (labelWidths_.isEmpty() || font != measuredFont_) {
        const QFontMetrics metrics(font);
        labelWidths_.clear();
        for (const Step& step : kSteps)
            labelWidths_.append(widestLabel(metrics, QString::fromLatin1(step.format)));
        measuredFont_ = font;
    }
    return labelWidths_;
}

int TimeTicker::getSubTickCount(double tickStep)
{
    for (const Step& step : kSteps)
        if (step.seconds == tickStep)
            return step.subTicks;
    return 1;
}

QString TimeTicker::getTickLabel(double tick, const QLocale&, QChar, int)
{
    // The same ticks come back frame after frame as the view slides: each
    // label is made once (making one converts to local time).
    const auto msecs = static_cast<qint64>(std::llround(tick * 1000.0));
    if (format_ != labelsFormat_) {
        labels_.clear();
        labelsFormat_ = format_;
    }
    return remembered(labels_, msecs, 256, [&] { return label(tick, format_); });
}

QVector<double> TimeTicker::createTickVector(double tickStep, const QCPRange& range)
{
    // Ticks on whole multiples of the step in local time: 12:00, 12:15, ...
    // Steps of a month or a year fall on multiples of 30 and 365 days, close
    // enough for an axis that long.
    QVector<double> ticks;
    if (!(tickStep > 0) || !std::isfinite(range.lower) || !std::isfinite(range.upper))
        return ticks;
    const double local = range.lower + utcOffset_;
    const double first = std::floor(local / tickStep) * tickStep - utcOffset_;
    const double count = std::ceil((range.upper - first) / tickStep);
    if (count > 10000)
        return ticks;
    for (int i = 0; i <= count; ++i)
        ticks.append(first + i * tickStep);
    return ticks;
}
