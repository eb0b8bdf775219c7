#include "chart_export.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

#include <cmath>
#include <vector>

ChartFormat chartFormatOf(const QString& path)
{
    return formatByExtension(path, {{"png", ChartFormat::Png}, {"pdf", ChartFormat::Pdf}, {"csv", ChartFormat::Csv}},
                             ChartFormat::Unknown);
}

bool saveChartPicture(QCustomPlot* plot, const QString& path, ChartFormat format, QString* error)
{
    bool written = false;
    if (format == ChartFormat::Png)
        written = plot->savePng(path, plot->width(), plot->height());
    else if (format == ChartFormat::Pdf)
        written = plot->savePdf(path, plot->width(), plot->height());
    if (!written && error)
        *error = QStringLiteral("cannot write %1").arg(path);
    return written;
}

QString csvField(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')) &&
        !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString isoTime(double key)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(key * 1000.0)));
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

bool saveChartCsv(const QList<QCPGraph*>& graphs, const QCPRange& keys, const QString& path, QString* error)
{
    // Written whole or not at all: a failed export never leaves half a table
    // where an older one was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    QTextStream out(&file);
    out << "time";
    for (const QCPGraph* graph : graphs)
        out << ',' << csvField(graph->name());
    out << '\n';

    // Walk the graphs side by side, one row per key that any of them has.
    using Iterator = QCPGraphDataContainer::const_iterator;
    std::vector<Iterator> at, end;
    for (const QCPGraph* graph : graphs) {
        at.push_back(graph->data()->findBegin(keys.lower, false));
        end.push_back(graph->data()->findEnd(keys.upper, false));
    }
    for (;;) {
        double key = HUGE_VAL;
        for (std::size_t k = 0; k < at.size(); ++k)
            if (at[k] != end[k])
                key = std::min(key, at[k]->key);
        if (key == HUGE_VAL)
            break;
        out << isoTime(key);
        for (std::size_t k = 0; k < at.size(); ++k) {
            out << ',';
            if (at[k] != end[k] && at[k]->key == key) {
                if (std::isfinite(at[k]->value))
                    out << QString::number(at[k]->value, 'g', 10);
                ++at[k];
            }
        }
        out << '\n';
    }
    out.flush();
    if (out.status() != QTextStream::Ok || !file.commit()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
