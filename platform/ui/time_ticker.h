// The time axis of a chart whose keys are seconds since the epoch, labelled
// in local time. It picks the tick step from the axis' width in pixels and
// the widest label of the format that step needs, so labels never run into
// each other however narrow the chart, and the format follows the span:
// tenths of seconds when zoomed in close, hours and minutes across hours,
// dates across days.
#pragma once

#include <qcustomplot.h>

#include <QHash>

#include <cmath>

class TimeTicker : public QCPAxisTicker {
public:
    // The axis whose width and label font decide the step; it owns the
    // ticker, so it outlives it.
    explicit TimeTicker(const QCPAxis* axis);

    // The label format the last generated ticks used (QDateTime's format).
    QString format() const { return format_; }
    // The step the last generated ticks used [s].
    double step() const { return step_; }

    // The label of a key [s since the epoch] in a format.
    static QString label(double key, const QString& format);

protected:
    double getTickStep(const QCPRange& range) override;
    int getSubTickCount(double tickStep) override;
    QString getTickLabel(double tick, const QLocale& locale, QChar formatChar, int precision) override;
    QVector<double> createTickVector(double tickStep, const QCPRange& range) override;

private:
    // The widest label of each step's format in the current font [px],
    // measured once per font: measuring text costs more than a frame has.
    const QVector<int>& labelWidths();

    const QCPAxis* axis_;
    QFont measuredFont_;
    QVector<int> labelWidths_;
    QString format_;
    double step_ = 1.0;         // [s]
    int utcOffset_ = 0;         // local time's offset from UTC over the range [s]
    double offsetMinute_ = NAN; // the minute it was found for [min since the epoch]
    // Labels made, by tick [ms since the epoch], in one format.
    QHash<qint64, QString> labels_;
    QString labelsFormat_;
};
