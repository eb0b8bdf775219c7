#include "log_reader.h"

#include "osfile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kHeader = "#time\tch\tU\tI\tCV_CC";
// Far longer than any record (about 40 characters) and than a few glued ones.
constexpr std::size_t kLongestLine = 4096;
// Large enough that the system calls cost nothing beside the parsing [bytes].
constexpr std::size_t kBufferSize = 4u << 20;
// Damaged lines named one by one before the rest are only counted.
constexpr int kNamedDamage = 20;
constexpr long long kEarliest = 946684800LL; // 2000-01-01 [s since the epoch]
constexpr long long kLatest = 4102444800LL;  // 2100-01-01
constexpr std::size_t kRecordFields = 5;

// The characters railmon's records are made of: digits, tabs, and what %g
// and %d write (signs, point, exponent, nan, inf). A table, as every byte of
// the log passes through it.
constexpr std::array<bool, 256> kLogCharacters = [] {
    std::array<bool, 256> table{};
    for (const char c : std::string_view("0123456789\t.-+enaif"))
        table[static_cast<unsigned char>(c)] = true;
    return table;
}();

bool parseDouble(std::string_view field, double* value)
{
    if (field.empty())
        return false;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), *value);
    return ec == std::errc() && end == field.data() + field.size();
}

bool parseInt(std::string_view field, long long* value)
{
    if (field.empty())
        return false;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), *value);
    return ec == std::errc() && end == field.data() + field.size();
}

std::string excerpt(std::string_view line)
{
    std::string shown;
    for (char c : line.substr(0, 40))
        shown += (c >= 32 && c < 127) ? c : (c == '\t' ? ' ' : '?');
    return line.size() > 40 ? shown + "..." : shown;
}

// Whether a line of log characters is one whole record; if not, `wrong`
// says what is wrong with it. Nothing is allocated for a whole record.
bool wholeRecord(std::string_view line, LogRecord* record, QString* wrong)
{
    std::array<std::string_view, kRecordFields> fields;
    std::size_t count = 0, start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        const std::size_t length = tab == std::string_view::npos ? std::string_view::npos : tab - start;
        if (count < kRecordFields)
            fields[count] = line.substr(start, length);
        ++count;
        if (tab == std::string_view::npos)
            break;
        start = tab + 1;
    }
    if (!plausibleLogTime(fields[0].data(), fields[0].data() + fields[0].size(), &record->time)) {
        *wrong =
            QStringLiteral("time field '%1' is not a plausible time").arg(QString::fromStdString(excerpt(fields[0])));
        return false;
    }
    if (count != kRecordFields) {
        *wrong = QStringLiteral("%1 fields, not the 5 of a record").arg(count);
        return false;
    }
    long long channel = 0, code = 0;
    if (!parseInt(fields[1], &channel) || channel < 1 || channel > 4) {
        *wrong = QStringLiteral("channel '%1' is not 1 to 4").arg(QString::fromStdString(excerpt(fields[1])));
        return false;
    }
    if (!parseDouble(fields[2], &record->volts) || !parseDouble(fields[3], &record->amperes)) {
        *wrong = QStringLiteral("a reading is not a number");
        return false;
    }
    if (!parseInt(fields[4], &code) || code < -128 || code > 127) {
        *wrong = QStringLiteral("CV/CC code '%1' is not a code").arg(QString::fromStdString(excerpt(fields[4])));
        return false;
    }
    record->channel = int(channel);
    record->code = int(code);
    return true;
}

// Opens the log for reading if it is a regular file. A symbolic link to a
// log is followed (an operator's "latest" link is a fair name for a log);
// what it leads to must be a regular file like any other name.
int openLog(const QString& path, QString* error)
{
    std::string name = path.toLocal8Bit().toStdString();
    std::error_code failed;
    const std::filesystem::path target = std::filesystem::canonical(name, failed);
    if (!failed)
        name = target.string();
    std::string why;
    const int fd = OsOpenRegularFile(name, OS_READ, 0, why);
    if (fd == OS_ABSENT)
        why = std::strerror(ENOENT);
    if (fd < 0)
        *error = QStringLiteral("%1: cannot open: %2").arg(path, QString::fromLocal8Bit(why.c_str()));
    return fd;
}

} // namespace

bool plausibleLogTime(const char* begin, const char* end, long long* time)
{
    if (end - begin < 9 || end - begin > 10)
        return false;
    for (const char* p = begin; p != end; ++p)
        if (*p < '0' || *p > '9')
            return false;
    return parseInt(std::string_view(begin, end - begin), time) && *time >= kEarliest && *time < kLatest;
}

namespace {

// One pass over the log's bytes, up to `limit` of them.
class LogPass {
public:
    LogPass(const QString& path, int fd, long long limit, LogReadResult* result,
            const std::function<void(const LogRecord&)>& take)
        : path_(path)
        , fd_(fd)
        , limit_(limit)
        , result_(*result)
        , take_(take)
    {
    }

    // False, with the result's error, when reading stops before the end.
    bool run(std::vector<char>& buffer);
    long long bytes() const { return offset_; }

private:
    QString where(long line) const { return QStringLiteral("%1:%2: ").arg(path_).arg(line); }
    bool handle(std::string_view text);

    const QString& path_;
    int fd_;
    long long limit_;
    LogReadResult& result_;
    const std::function<void(const LogRecord&)>& take_;
    long long offset_ = 0; // [bytes] read so far
    long number_ = 0;      // line number
};

bool LogPass::handle(std::string_view text)
{
    ++number_;
    if (!text.empty() && text.back() == '\r')
        text.remove_suffix(1);
    if (number_ == 1) {
        if (text != kHeader) {
            result_.error = where(1) +
                QStringLiteral("not a railmon log: the first line is not the header "
                               "#time<TAB>ch<TAB>U<TAB>I<TAB>CV_CC");
            return false;
        }
        return true;
    }
    for (char c : text) {
        if (!kLogCharacters[static_cast<unsigned char>(c)]) {
            result_.error = where(number_) +
                QStringLiteral("not a railmon log record: '%1'").arg(QString::fromStdString(excerpt(text)));
            return false;
        }
    }
    if (text.empty()) {
        result_.error = where(number_) + QStringLiteral("an empty line, which railmon never writes");
        return false;
    }
    LogRecord record{};
    QString wrong;
    if (wholeRecord(text, &record, &wrong)) {
        ++result_.records;
        take_(record);
    } else {
        ++result_.skipped;
        if (result_.skipped <= kNamedDamage)
            result_.warnings << where(number_) + wrong + QStringLiteral(" (records glued together?); line skipped");
    }
    return true;
}

bool LogPass::run(std::vector<char>& buffer)
{
    // buffer[0, held): the start of a line whose end is not read yet.
    std::size_t held = 0;
    for (;;) {
        const std::size_t room = buffer.size() - held;
        const long long wanted = limit_ < 0 ? (long long)room : std::min<long long>(room, limit_ - offset_);
        std::string why;
        const long long got = wanted > 0 ? OsReadAt(fd_, buffer.data() + held, std::size_t(wanted), offset_, why) : 0;
        if (got < 0) {
            result_.error = QStringLiteral("%1: cannot read: %2").arg(path_, QString::fromLocal8Bit(why.c_str()));
            return false;
        }
        if (got == 0)
            break;
        offset_ += got;
        const std::size_t have = held + std::size_t(got);
        std::size_t start = 0;
        while (const void* found = std::memchr(buffer.data() + start, '\n', have - start)) {
            const std::size_t end = static_cast<const char*>(found) - buffer.data();
            if (end - start > kLongestLine) {
                result_.error = where(number_ + 1) + QStringLiteral("a line longer than any record");
                return false;
            }
            if (!handle(std::string_view(buffer.data() + start, end - start)))
                return false;
            start = end + 1;
        }
        held = have - start;
        if (held > kLongestLine) {
            result_.error = where(number_ + 1) + QStringLiteral("a line longer than any record");
            return false;
        }
        std::memmove(buffer.data(), buffer.data() + start, held);
    }
    if (offset_ == 0) {
        result_.error = where(1) + QStringLiteral("empty, not a railmon log");
        return false;
    }
    if (held > 0) {
        // Written by a run that ended in the middle of it.
        ++number_;
        if (number_ == 1) {
            result_.error = where(1) + QStringLiteral("not a railmon log: no whole first line");
            return false;
        }
        ++result_.skipped;
        result_.warnings << where(number_) + QStringLiteral("the last line is cut off (no line end); skipped");
    }
    return true;
}

} // namespace

LogReadResult readLog(const QString& path, int passes, const std::function<void(const LogRecord&, int pass)>& take)
{
    LogReadResult result;
    const int fd = openLog(path, &result.error);
    if (fd < 0)
        return result;
    std::vector<char> buffer(kBufferSize + kLongestLine);
    long long limit = -1; // [bytes] as far as the first pass read
    for (int pass = 0; pass < passes; ++pass) {
        LogReadResult again;
        const std::function<void(const LogRecord&)> each = [&](const LogRecord& r) { take(r, pass); };
        LogPass reading(path, fd, limit, pass == 0 ? &result : &again, each);
        if (!reading.run(buffer)) {
            if (pass > 0)
                result.error = again.error;
            OsClose(fd);
            return result;
        }
        limit = reading.bytes();
    }
    OsClose(fd);
    if (result.skipped > kNamedDamage)
        result.warnings << QStringLiteral("%1: %2 damaged lines skipped in all").arg(path).arg(result.skipped);
    result.ok = true;
    return result;
}
