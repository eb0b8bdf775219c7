// Saving what a chart shows: a picture of it (PNG, PDF) or its numbers
// (CSV), chosen by the file name's extension. The CSV holds the visible time
// range: a header "time,<trace label>,...", then one row per plotted instant
// with the time in ISO 8601 local time with milliseconds and its offset
// (2026-12-09T14:03:07.250+01:00) and one column per trace, empty where the
// trace has no value.
#pragma once

#include <qcustomplot.h>

#include <QFileInfo>
#include <QList>
#include <QString>

#include <initializer_list>
#include <utility>

// The format whose extension (lower case) the file name has, or `unknown`:
// the charts' exports and railmon-plot choose their format by it.
template <typename Format>
Format formatByExtension(const QString& path, std::initializer_list<std::pair<const char*, Format>> formats,
                         Format unknown)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    for (const auto& [extension, format] : formats)
        if (suffix == QLatin1String(extension))
            return format;
    return unknown;
}

enum class ChartFormat { Png, Pdf, Csv, Unknown };
ChartFormat chartFormatOf(const QString& path);

// The picture of the plot as it is laid out now, at its widget's size.
// False with the reason when the file cannot be written.
bool saveChartPicture(QCustomPlot* plot, const QString& path, ChartFormat format, QString* error);

// The graphs' points with keys in `keys`, as CSV. The graphs share their
// keys (one point per trace per plot); a graph lacking a key gets an empty
// field in that row.
bool saveChartCsv(const QList<QCPGraph*>& graphs, const QCPRange& keys, const QString& path, QString* error);

// One CSV field: quoted when it holds a comma, a quote or a line end.
QString csvField(const QString& text);
// A key [s since the epoch] as ISO 8601 local time with milliseconds and offset.
QString isoTime(double key);
