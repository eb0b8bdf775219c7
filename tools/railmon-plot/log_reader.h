// Reading railmon.log as railmon writes it: the header "#time\tch\tU\tI\tCV_CC",
// then records "time\tch\tU\tI\tcode" (time in whole seconds since the epoch,
// channel 1-4, volts and amperes as %g, nan for a reading that never came,
// the CV/CC code as a signed integer).
//
// What a run of railmon, or an older one, can leave is read: CRLF line ends;
// a last line cut off by a crash (no line end: skipped, one warning); records
// glued together where an older railmon's write was cut short on a full disk
// (a line made of the log's characters that is not one whole record: skipped,
// reported with its line). Anything else is not a log, and reading stops with
// one line saying where and what.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

struct LogRecord {
    long long time; // [s since the epoch]
    int channel;    // 1-4
    double volts, amperes;
    int code; // CV/CC
};

struct LogReadResult {
    bool ok = false;
    QString error;        // "file:line: what", when not ok
    QStringList warnings; // "file:line: what", each a line skipped
    long records = 0;
    long skipped = 0;
};

// Calls `take` for each record in file order, `passes` times over the same
// bytes (pass 0, 1, ...): a later pass reads no further than the first did,
// so a log railmon is still writing gives each pass the same records. The
// warnings and counts are the first pass's. Only a regular file is read: a
// FIFO, a device or a directory is refused at once, never waited on.
LogReadResult readLog(const QString& path, int passes, const std::function<void(const LogRecord&, int pass)>& take);

// Whether a time field is a time railmon could have written: whole seconds
// from 2000 to 2099.
bool plausibleLogTime(const char* begin, const char* end, long long* time);
