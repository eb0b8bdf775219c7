#include "log_file.h"

#include "osfile.h"
#include "paced_worker.h"
#include "status_line.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

FILE* gFp = nullptr;

namespace {

const char kLogFileName[] = "railmon.log";
// The previous run's log, kept when a run starts railmon.log afresh.
const char kPreviousLogFileName[] = "railmon.log.1";
// The lock that makes one railmon the log's one writer. It guards the name,
// not a file: the log itself is renamed away at a run's start and by
// rotation, and a lock on it would then guard the wrong file.
const char kLogLockFileName[] = "railmon.log.lock";
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

int gLockFd = -1;          // the lock file, held from the first open to the close
OsFileFacts gLogFile;      // which file gFp writes, to tell when the name no longer names it
double gLastNameCheck = 0; // [s, monotonic] when the name was last compared
// The previous log could not be kept as railmon.log.1: not tried again,
// which would churn the disk, until logging is switched on anew.
bool gKeepFailed = false;
// The run's first open is done: later ones (after a deletion or a rotation)
// keep nothing, as the name no longer holds this run's records.
bool gLogStarted = false;

// True while opening or writing the log fails, so the operator is told once
// per streak of failures, and how many ticks it cost when it ends.
bool gLogFailing = false;
long gTicksLost = 0;

// For the status line: where the log is, what it holds, what it lost.
std::string gLogPath;     // the full path, known from the first attempt to open it
long gLogRecords = 0;     // records in the file being written
long gTicksNotLogged = 0; // in this run, over all failure streaks
std::string gLogNotice;   // what happened to the file under railmon, for the status line
bool gLogNoticeIsAlarm = false;

double monotonicSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string logPath()
{
    const std::string cwd = OsCurrentDirectory();
    return cwd.empty() ? std::string(kLogFileName) : cwd + "/" + kLogFileName;
}

void reportLogFailure(const char* what, const std::string& why)
{
    if (!gLogFailing)
        printf("%s %s: %s\n", what, gLogPath.c_str(), why.c_str());
    gLogFailing = true;
    showStatus(PANEL_STATUS_LOG, std::string("Log: ") + what + " " + gLogPath + ": " + why, VAL_ERROR_COLOR);
}

void noteTickLost()
{
    ++gTicksLost;
    ++gTicksNotLogged;
}

void reportLogResumed()
{
    if (gLogFailing && gTicksLost > 0)
        printf("Writing %s again: %ld tick%s could not be logged\n", gLogPath.c_str(), gTicksLost,
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

// The log's lock, taken once per run. -1 with `why` when another railmon
// holds it or it cannot be made.
int takeLogLock(std::string& why)
{
    // Read-only will do for a lock file another user made.
    int fd = OsOpenRegularFile(kLogLockFileName, OS_READ_WRITE | OS_CREATE, 0644, why);
    if (const std::string created = why; fd == OS_FAILED) {
        fd = OsOpenRegularFile(kLogLockFileName, OS_READ, 0, why);
        // A directory that takes no new file takes no log either: that is
        // what the operator needs to hear, not the lock's name.
        if (fd == OS_FAILED || fd == OS_ABSENT) {
            why = created;
            return -1;
        }
    }
    if (fd < 0) {
        why = std::string("cannot take its lock ") + kLogLockFileName + ": " + why + "; not logging";
        return -1;
    }
    if (long holder = 0; !OsTryLock(fd, holder)) {
        OsClose(fd);
        why = "another railmon" + (holder ? " (process " + std::to_string(holder) + ")" : std::string()) +
            " is writing it; not logging";
        return -1;
    }
    return fd;
}

// Opens railmon.log: a regular file of its own only (a FIFO would block the
// program, a link, symbolic or hard, would let it overwrite another file),
// under the lock. At a run's start (`keepPrevious`) a log with records is
// renamed to railmon.log.1, which costs no time at any size and keeps its
// permissions, and a new one is made with the same permissions, so a
// private log stays private; after a rotation the file found there, or a
// new one, is continued at its end. -1 with `why`.
int openLogFile(bool keepPrevious, OsFileFacts& facts, std::string& why)
{
    unsigned mode = 0644;
    int fd = OsOpenRegularFile(kLogFileName, OS_READ_WRITE, 0, why);
    if (fd == OS_NOT_REGULAR)
        why += "; not logging";
    if (fd == OS_NOT_REGULAR || fd == OS_FAILED)
        return -1;
    if (fd >= 0) {
        if (!OsFileFactsOf(fd, facts, why)) {
            OsClose(fd);
            return -1;
        }
        if (facts.links > 1) {
            OsClose(fd);
            why = "it has " + std::to_string(facts.links) +
                " names (a hard link to a file that is also elsewhere), not a file of its own; not logging";
            return -1;
        }
        if (facts.size == 0 || !keepPrevious)
            return fd;
        OsClose(fd);
        mode = facts.mode;
        if (!OsRename(kLogFileName, kPreviousLogFileName, why)) {
            gKeepFailed = true;
            why = std::string("cannot keep its previous content as ") + kPreviousLogFileName + ": " + why +
                "; not logging until logging is switched on again";
            return -1;
        }
    }
    fd = OsOpenRegularFile(kLogFileName, OS_READ_WRITE | OS_CREATE_NEW, mode, why);
    if (fd < 0)
        return -1;
    OsSetMode(fd, mode, why);
    if (!OsFileFactsOf(fd, facts, why)) {
        OsClose(fd);
        return -1;
    }
    return fd;
}

// Makes gFp the log: the run's first open keeps the previous log; a reopen
// after a deletion or a rotation continues whatever the name now holds.
bool openLog(bool keepPrevious, std::string& why)
{
    gLogPath = logPath();
    if (keepPrevious && gKeepFailed) {
        why = std::string("cannot keep its previous content as ") + kPreviousLogFileName +
            "; not logging until logging is switched on again";
        return false;
    }
    if (gLockFd < 0 && (gLockFd = takeLogLock(why)) < 0)
        return false;
    OsFileFacts facts;
    const int fd = openLogFile(keepPrevious, facts, why);
    if (fd < 0)
        return false;
    FILE* fp = OsWriteStream(fd, why);
    if (!fp) {
        OsClose(fd);
        return false;
    }
    gFp = fp;
    gLogFile = facts;
    gLogEnd = facts.size;
    gLogRecords = 0;
    gLastNameCheck = monotonicSeconds();
    return true;
}

// Lets go of the file being written (its last records synced) but not of
// the lock: the name stays this railmon's.
void closeLogFile()
{
    gLogSyncer.stop(true);
    fclose(gFp);
    gFp = nullptr;
}

// What happened to the file under railmon, said once on stdout and kept on
// the status line.
void noticeLog(const std::string& what, bool alarm)
{
    printf("%s\n", what.c_str());
    gLogNotice = what + " at " + clockTime(time(nullptr));
    gLogNoticeIsAlarm = gLogNoticeIsAlarm || alarm;
}

// Before a tick is written: is the file still the one the name names, still
// there, still as long? A log deleted, renamed away by a rotation or cut by
// a copying one is noticed before the tick goes to it, so no record is
// written where nobody will find it. The name is looked up at most once a
// second; the file's own facts at every tick (one fstat, far below a tick).
bool logStillHolds(std::string& why)
{
    OsFileFacts now;
    if (!OsFileFactsOf(fileno(gFp), now, why))
        return true; // the write will say what is wrong
    std::string whatHappened;
    bool alarm = false;
    if (now.links == 0) {
        whatHappened = gLogPath + " was deleted while railmon wrote it";
        alarm = true;
    } else if (const double t = monotonicSeconds(); t - gLastNameCheck >= 1.0) {
        gLastNameCheck = t;
        OsFileFacts named;
        const int found = OsFileFactsAt(kLogFileName, named, why);
        if (found == OS_ABSENT || (found == 0 && !named.sameFile(gLogFile)))
            whatHappened = gLogPath + " was renamed or replaced (rotated)";
    }
    if (whatHappened.empty()) {
        if (now.size < gLogEnd) {
            noticeLog(gLogPath + " was cut to " + std::to_string(now.size) +
                          " bytes (rotated by copying): " + "continuing at its end",
                      false);
            gLogEnd = now.size;
        }
        return true;
    }
    closeLogFile();
    if (!openLog(false, why)) {
        noticeLog(whatHappened + ": no new one can be started", alarm);
        return false;
    }
    noticeLog(whatHappened + ": a new one is started", alarm);
    return true;
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
    if (!gLogNotice.empty())
        text += "; " + gLogNotice;
    const int colour = gLogNoticeIsAlarm             ? VAL_ERROR_COLOR
        : gTicksNotLogged > 0 || !gLogNotice.empty() ? VAL_WARNING_COLOR
                                                     : VAL_DEFAULT_COLOR;
    showStatus(PANEL_STATUS_LOG, text, colour);
}

void LogSwitchedOn()
{
    gKeepFailed = false;
    gLogNotice.clear();
    gLogNoticeIsAlarm = false;
}

bool LogWrite(int ch, const TMI_MonitorReading& reading)
{
    // When the reading came, whatever the opening below takes.
    const auto taken = static_cast<unsigned long>(time(nullptr));
    if (!gFp) {
        std::string why;
        if (!openLog(!gLogStarted, why)) {
            reportLogFailure("Cannot open", why);
            gTickUnlogged = true;
            return false;
        }
        gLogStarted = true;
    }
    gTickRecords.push_back(
        {taken, ch + 1, reading.voltage, reading.current, static_cast<int>(static_cast<signed char>(reading.cv_cc))});
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
    if (std::string why; !logStillHolds(why)) {
        gTickRecords.clear();
        noteTickLost();
        reportLogFailure("Cannot open", why);
        return;
    }
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
    gLogStarted = false;
    gKeepFailed = false;
    gLogNotice.clear();
    gLogNoticeIsAlarm = false;
    if (gFp)
        closeLogFile();
    if (gLockFd >= 0)
        OsClose(gLockFd);
    gLockFd = -1;
    gTickRecords.clear();
    gLogEnd = 0;
    gLogRecords = 0;
    gTicksNotLogged = 0;
    gLogPath.clear();
}
