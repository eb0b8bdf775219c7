// railmon-plot: pictures and a summary of a railmon log.
//
//   railmon-plot railmon.log -o rail.png     (.svg, .pdf: by the extension)
//   railmon-plot railmon.log --summary
//
// Exit status 0 when done, 1 when the log cannot be read or is not a log,
// 2 for a wrong command line.
#include "cc_code.h"
#include "log_plot.h"
#include "log_reader.h"
#include "log_series.h"

#include <QApplication>
#include <QDateTime>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

constexpr char kUsage[] = "usage: railmon-plot LOG [-o OUT.png|OUT.svg|OUT.pdf] [--summary] [--from TIME] [--to TIME]\n"
                          "                    [--cc-code N] [--size WxH]\n"
                          "  TIME: ISO 8601 local time (2026-12-09T14:00:00) or seconds since the epoch\n";

// Each bucket of a trace at most half a pixel column wide (the plot is
// narrower than the picture), so what a bucket keeps draws as every point would.
constexpr int kBucketsPerPixel = 2;

struct Options {
    QString log, output;
    bool summary = false;
    std::optional<long long> from, to;
    std::optional<int> ccCode;
    int width = 1600, height = 900; // [px]
};

[[noreturn]] void usage(const QString& problem)
{
    std::fprintf(stderr, "railmon-plot: %s\n%s", qPrintable(problem), kUsage);
    std::exit(2);
}

std::optional<long long> parseTime(const QString& text)
{
    bool number = false;
    const double seconds = text.toDouble(&number);
    if (number && std::isfinite(seconds))
        return static_cast<long long>(std::floor(seconds));
    QString iso = text;
    if (iso.size() > 10 && iso[10] == QLatin1Char(' '))
        iso[10] = QLatin1Char('T');
    const QDateTime time = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (!time.isValid())
        return std::nullopt;
    return time.toSecsSinceEpoch();
}

Options parse(const QStringList& args)
{
    Options o;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&]() -> QString {
            if (i + 1 >= args.size())
                usage(a + " needs a value");
            return args[++i];
        };
        if (a == QLatin1String("-o") || a == QLatin1String("--output"))
            o.output = value();
        else if (a == QLatin1String("--summary"))
            o.summary = true;
        else if (a == QLatin1String("--from") || a == QLatin1String("--to")) {
            const QString text = value();
            const auto time = parseTime(text);
            if (!time)
                usage(QStringLiteral("%1 '%2' is neither ISO 8601 nor seconds since the epoch").arg(a, text));
            (a == QLatin1String("--from") ? o.from : o.to) = time;
        } else if (a == QLatin1String("--cc-code")) {
            bool ok = false;
            const int code = value().toInt(&ok);
            if (!ok || code < -128 || code > 127)
                usage(QStringLiteral("--cc-code takes a code from -128 to 127"));
            o.ccCode = code;
        } else if (a == QLatin1String("--size")) {
            const QStringList parts = value().split(QLatin1Char('x'));
            bool w = false, h = false;
            if (parts.size() == 2) {
                o.width = parts[0].toInt(&w);
                o.height = parts[1].toInt(&h);
            }
            if (!w || !h || o.width < 200 || o.height < 150 || o.width > 20000 || o.height > 20000)
                usage(QStringLiteral("--size takes WxH, from 200x150 to 20000x20000 pixels"));
        } else if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a.startsWith(QLatin1Char('-')) && a.size() > 1)
            usage(QStringLiteral("unknown option %1").arg(a));
        else if (o.log.isEmpty())
            o.log = a;
        else
            usage(QStringLiteral("one log at a time"));
    }
    if (o.log.isEmpty())
        usage(QStringLiteral("no log named"));
    if (o.output.isEmpty() && !o.summary)
        usage(QStringLiteral("nothing to do: give -o OUT or --summary"));
    if (!o.output.isEmpty() && pictureFormatOf(o.output) == PictureFormat::Unknown)
        usage(QStringLiteral("%1: the picture's name must end in .png, .svg or .pdf").arg(o.output));
    if (o.from && o.to && *o.from > *o.to)
        usage(QStringLiteral("--from is after --to"));
    return o;
}

// The CC code: --cc-code, else the installed panel file's labels.
std::optional<int> findCcCode(const Options& o)
{
    if (o.ccCode)
        return o.ccCode;
    const QStringList candidates = panelFileCandidates(QCoreApplication::applicationDirPath());
    for (const QString& path : candidates) {
        if (!QFileInfo::exists(path))
            continue;
        QString problem;
        if (const auto code = ccCodeFromPanel(path, &problem))
            return code;
        std::fprintf(stderr, "railmon-plot: %s; CC is not shaded (--cc-code N names it)\n", qPrintable(problem));
        return std::nullopt;
    }
    std::fprintf(stderr,
                 "railmon-plot: no panel file (%s) to tell the CC code; CC is not shaded (--cc-code N names it)\n",
                 qPrintable(candidates.join(QStringLiteral(", "))));
    return std::nullopt;
}

QString number(double value, long count)
{
    return count > 0 ? QString::number(value, 'g', 6) : QStringLiteral("-");
}

void printSummary(const LogSeries& series, bool ccKnown)
{
    std::printf("channel\trecords\tU min\tU mean\tU max\tI min\tI mean\tI max\tCC [s]\n");
    for (int ch = 0; ch < LogSeries::kChannels; ++ch) {
        const ChannelSummary& s = series.summary(ch);
        const long u = s.voltReadings, i = s.ampereReadings;
        std::printf("%s\t%ld\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", kChannelLabels[ch], s.records,
                    qPrintable(number(s.voltMin, u)), qPrintable(number(u ? s.voltSum / u : 0, u)),
                    qPrintable(number(s.voltMax, u)), qPrintable(number(s.ampereMin, i)),
                    qPrintable(number(i ? s.ampereSum / i : 0, i)), qPrintable(number(s.ampereMax, i)),
                    ccKnown ? qPrintable(QString::number(s.ccSeconds, 'f', 1)) : "-");
    }
}

QString titleOf(const Options& o, const LogSeries& series)
{
    double lower = 0, upper = 0;
    if (!series.keyRange(&lower, &upper))
        return QFileInfo(o.log).fileName() + QStringLiteral(": no records");
    auto at = [](double key) {
        return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(key)).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    };
    return QStringLiteral("%1: %2 to %3").arg(QFileInfo(o.log).fileName(), at(lower), at(upper));
}

} // namespace

int main(int argc, char* argv[])
{
    // A tool for terminals and scripts: it needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const Options options = parse(QCoreApplication::arguments());
    const std::optional<int> cc = findCcCode(options);

    LogSeries series(options.from, options.to, cc, kBucketsPerPixel * options.width);
    const LogReadResult read =
        readLog(options.log, LogSeries::kPasses, [&](const LogRecord& r, int pass) { series.take(r, pass); });
    for (const QString& warning : read.warnings)
        std::fprintf(stderr, "railmon-plot: %s\n", qPrintable(warning));
    if (!read.ok) {
        std::fprintf(stderr, "railmon-plot: %s\n", qPrintable(read.error));
        return 1;
    }
    series.finish();
    if (series.empty())
        std::fprintf(stderr, "railmon-plot: %s: no records%s\n", qPrintable(options.log),
                     options.from || options.to ? " in the time range" : "");
    if (options.summary)
        printSummary(series, cc.has_value());
    if (!options.output.isEmpty()) {
        QString error;
        if (!plotLog(series, titleOf(options, series), options.width, options.height, options.output, &error)) {
            std::fprintf(stderr, "railmon-plot: %s\n", qPrintable(error));
            return 1;
        }
    }
    return 0;
}
