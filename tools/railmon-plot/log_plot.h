// The picture of a log: voltage above current against time, one trace per
// channel in the strip charts' look (trace_style.h), the channels' labels in
// the legend, the stretches each channel spent in CC shaded in its colour.
#pragma once

#include "log_series.h"

#include <QString>
#include <QStringList>

// The channels' labels, as railmon gives its traces.
extern const char* const kChannelLabels[LogSeries::kChannels];

enum class PictureFormat { Png, Svg, Pdf, Unknown };
PictureFormat pictureFormatOf(const QString& path);

// Draws the series at width x height pixels into `path`; false with the
// reason when it cannot be written.
bool plotLog(const LogSeries& series, const QString& title, int width, int height, const QString& path, QString* error);
