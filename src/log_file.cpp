#include "log_file.h"

#include "osfile.h"
#include "paced_worker.h"
#include "status_line.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>
#include <vector>

FILE* gFp = nullptr;

namespace {

const char kLogFileName[] = "railmon.log";
// The previous run's log, kept when a run empties railmon.log.
const char kPreviousLogFileName[] = "railmon.log.1";
const char kLogHeader[] = "#time\tch\tU\tI\tCV_CC\n";

// A tick's records reach the file whole or not at all: they are gathered
// here and written at the end of the tick with one write. They are kept as
// numbers and written out as text only then: between the supply's calls,
// where the tick's readings arrive, the caches have gone cold while it
// waited, and formatting costs many times what it does once after the last
// call.
struct LogRecord {
    unsigned long time; // [s] since the epoch, when the reading came
    int ch;
    double voltage, current; // [V], [A]
    int mode;
};
std::vector<LogRecord> gTickRecords;
// A reading of this tick could not be logged: none of it is, or the next
// tick's records would be glued onto a part of it.
bool gTickUnlogged = false;
std::string gTickText;
// Bytes of whole ticks in the file; where the next tick is written.
long long gLogEnd = 0;

// True while opening or writing the log fails, so the operator is told once
// per streak of failures, and how many ticks it cost when it ends.
bool gLogFailing = false;
long gTicksLost = 0;

// For the status line: where the log is, what it holds, what it lost.
std::string gLogPath;     // the full path, once opened
long gLogRecords = 0;     // records of this run in the file
long gTicksNotLogged = 0; // in this run, over all failure streaks

void reportLogFailure(const char* what, const std::string& why)
{
    if (!gLogFailing)
        printf("%s %s: %s\n", what, kLogFileName, why.c_str());
    gLogFailing = true;
    showStatus(PANEL_STATUS_LOG, std::string("Log: ") + what + " " + kLogFileName + ": " + why, VAL_ERROR_COLOR);
}

void noteTickLost()
{
    ++gTicksLost;
    ++gTicksNotLogged;
}

void reportLogResumed()
{
    if (gLogFailing && gTicksLost > 0)
        printf("Writing %s again: %ld tick%s could not be logged\n", kLogFileName, gTicksLost,
               gTicksLost == 1 ? "" : "s");
    gLogFailing = false;
    gTicksLost = 0;
}

// ---- Syncing: a power cut loses at most the last second of the log --------
//
// The sync waits for the disk, which can take tens of milliseconds on a
// spinning one: it runs beside the event loop, at most once a second, for
// whatever the ticks wrote since the last one.
std::string syncLog(const int& fd)
{
    OsSyncData(fd);
    return {};
}
PacedWorker<int> gLogSyncer(syncLog, std::chrono::seconds(1));

// ---- Opening: only a regular file, never through a link, one writer -------

// Copies the log's present content to railmon.log.1 (a file of its own,
// renamed over it), so emptying railmon.log for this run destroys nothing.
bool keepPreviousLog(int fd, long long size, std::string& why)
{
    const std::string failed = std::string("cannot keep its previous content as ") + kPreviousLogFileName + ": ";
    std::string temporary;
    const int out = OsCreateUniqueFile(kPreviousLogFileName, temporary, why);
    if (out < 0) {
        why = failed + why;
        return false;
    }
    OsSetMode(out, 0644, why);
    static char buffer[64 * 1024];
    bool ok = true;
    for (long long at = 0, written = 0; ok && at < size; at += written) {
        const long long got = OsReadAt(fd, buffer, sizeof buffer, at, why);
        ok = got > 0;
        for (written = 0; ok && written < got;) {
            const long long put =
                OsWriteAt(out, buffer + written, static_cast<size_t>(got - written), at + written, why);
            ok = put > 0;
            written += ok ? put : 0;
        }
        if (got == 0)
            why = "the file ended early";
    }
    // On the disk before railmon.log is emptied.
    ok = ok && OsSyncAll(out, why);
    ok = OsClose(out) == 0 && ok;
    ok = ok && OsRename(temporary, kPreviousLogFileName, why);
    if (!ok) {
        why = failed + why;
        OsRemove(temporary);
    }
    return ok;
}

// Opens railmon.log for this run: a regular file only (a FIFO would block
// the program, a link would let it overwrite whatever the link names), with
// an advisory lock so two railmon never write one file, and emptied only
// once the previous content is safe in railmon.log.1. The order matters:
// renaming the locked file away would let a later railmon lock another file
// than the one being written. The stream is binary, so a byte offset in the
// file is a byte offset in the records.
FILE* openLog(std::string& why)
{
    const int fd = OsOpenRegularFile(kLogFileName, OS_READ_WRITE | OS_CREATE, 0644, why);
    if (fd == OS_NOT_REGULAR)
        why += "; not logging";
    if (fd < 0)
        return nullptr;
    auto fail = [&](const std::string& reason) -> FILE* {
        why = reason;
        OsClose(fd);
        return nullptr;
    };
    if (long holder = 0; !OsTryLock(fd, holder))
        return fail("another railmon" + (holder ? " (process " + std::to_string(holder) + ")" : std::string()) +
                    " is writing it; not logging");
    OsFileFacts facts;
    if (!OsFileFactsOf(fd, facts, why))
        return fail(why);
    if (facts.size > 0 && !keepPreviousLog(fd, facts.size, why))
        return fail(why);
    if (!OsCutBack(fd, 0, why))
        return fail(why);
    FILE* fp = OsWriteStream(fd, why);
    if (!fp)
        return fail(why);
    return fp;
}

// One record as printf's "%lu\t%d\t%g\t%g\t%d\n" writes it in the C locale,
// without printf's parsing of its format and look-up of the locale for
// every record.
void appendRecord(std::string& text, const LogRecord& r)
{
    char record[160];
    char* at = record;
    char* const end = record + sizeof record;
    // Each field leaves room for what follows it (a record is at most 80).
    auto field = [&](auto value, char after) {
        at = std::to_chars(at, end - 1, value).ptr;
        *at++ = after;
    };
    auto reading = [&](double value) {
        at = std::to_chars(at, end - 1, value, std::chars_format::general, 6).ptr; // %g
        *at++ = '\t';
    };
    field(r.time, '\t');
    field(r.ch, '\t');
    reading(r.voltage);
    reading(r.current);
    field(r.mode, '\n');
    text.append(record, static_cast<size_t>(at - record));
}

// Writes the tick's text in one piece, or cuts back what of it was written.
void writeTick(int records)
{
    const int fd = fileno(gFp);
    const char* data = gTickText.data();
    const size_t size = gTickText.size();
    size_t done = 0;
    std::string error;
    // One write; a second only to learn why the first fell short.
    while (done < size) {
        const long long n = OsWriteAt(fd, data + done, size - done, gLogEnd + static_cast<long long>(done), error);
        if (n <= 0) {
            if (n == 0)
                error = strerror(EIO);
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (done == size) {
        gLogEnd += static_cast<long long>(size);
        gLogRecords += records;
        reportLogResumed();
        gLogSyncer.post(fd);
        showLogStatus();
        return;
    }
    noteTickLost();
    if (std::string cutError; done > 0 && !OsCutBack(fd, gLogEnd, cutError)) {
        reportLogFailure("Cannot write", error + "; and cannot cut back the part written: " + cutError);
        return;
    }
    reportLogFailure("Cannot write", error);
}

} // namespace

void showLogStatus()
{
    if (gLogFailing)
        return; // the failure stays on show until writing works again
    std::string text;
    if (!gFp)
        text = gLogToFile ? std::string("Log on: ") + kLogFileName + " opens at the next timer reading" : "Log off";
    else
        // The count first: it is what changes, and a narrow field cuts the
        // end of the line, where the path is.
        text = std::string(gLogToFile ? "Logging: " : "Log paused: ") + std::to_string(gLogRecords) +
            (gLogRecords == 1 ? " record" : " records") + (gLogToFile ? " to " : " in ") + gLogPath;
    if (gTicksNotLogged > 0)
        text += "; " + std::to_string(gTicksNotLogged) + (gTicksNotLogged == 1 ? " tick" : " ticks") + " not logged";
    showStatus(PANEL_STATUS_LOG, text, gTicksNotLogged > 0 ? VAL_WARNING_COLOR : VAL_DEFAULT_COLOR);
}

bool LogWrite(int ch, const TMI_MonitorReading& reading)
{
    if (!gFp) {
        std::string why;
        gFp = openLog(why);
        if (!gFp) {
            reportLogFailure("Cannot open", why);
            gTickUnlogged = true;
            return false;
        }
        gLogEnd = 0;
        gLogRecords = 0;
        const std::string cwd = OsCurrentDirectory();
        gLogPath = cwd.empty() ? std::string(kLogFileName) : cwd + "/" + kLogFileName;
    }
    gTickRecords.push_back({static_cast<unsigned long>(time(nullptr)), ch + 1, reading.voltage, reading.current,
                            static_cast<int>(static_cast<signed char>(reading.cv_cc))});
    return true;
}

void LogFinishTick()
{
    if (std::exchange(gTickUnlogged, false)) {
        gTickRecords.clear();
        noteTickLost();
        return;
    }
    if (gTickRecords.empty())
        return;
    gTickText.clear();
    if (gLogEnd == 0)
        gTickText = kLogHeader;
    for (const LogRecord& r : gTickRecords)
        appendRecord(gTickText, r);
    const int records = static_cast<int>(gTickRecords.size());
    gTickRecords.clear();
    writeTick(records);
}

void LogClose(void)
{
    gLogFailing = false;
    gTicksLost = 0;
    gTickUnlogged = false;
    if (!gFp)
        return;
    gLogSyncer.stop(true);
    fclose(gFp);
    gTickRecords.clear();
    gLogEnd = 0;
    gLogRecords = 0;
    gTicksNotLogged = 0;
    gLogPath.clear();
}
