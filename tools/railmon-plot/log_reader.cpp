#include "log_reader.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kHeader = "#time\tch\tU\tI\tCV_CC";
// Far longer than any record (about 40 characters) and than a few glued ones.
constexpr std::size_t kLongestLine = 4096;
// Damaged lines named one by one before the rest are only counted.
constexpr int kNamedDamage = 20;
constexpr long long kEarliest = 946684800LL; // 2000-01-01 [s since the epoch]
constexpr long long kLatest = 4102444800LL;  // 2100-01-01

// The characters railmon's records are made of: digits, tabs, and what %g
// and %d write (signs, point, exponent, nan, inf).
bool logCharacter(char c)
{
    return (c >= '0' && c <= '9') || c == '\t' || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'n' ||
        c == 'a' || c == 'i' || c == 'f';
}

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

// What is wrong with a line of log characters that is not a whole record,
// or empty when it is one.
QString damage(std::string_view line, LogRecord* record)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos)
            break;
        start = tab + 1;
    }
    if (!plausibleLogTime(fields[0].data(), fields[0].data() + fields[0].size(), &record->time))
        return QStringLiteral("time field '%1' is not a plausible time")
            .arg(QString::fromStdString(excerpt(fields[0])));
    if (fields.size() != 5)
        return QStringLiteral("%1 fields, not the 5 of a record").arg(fields.size());
    long long channel = 0, code = 0;
    if (!parseInt(fields[1], &channel) || channel < 1 || channel > 4)
        return QStringLiteral("channel '%1' is not 1 to 4").arg(QString::fromStdString(excerpt(fields[1])));
    if (!parseDouble(fields[2], &record->volts) || !parseDouble(fields[3], &record->amperes))
        return QStringLiteral("a reading is not a number");
    if (!parseInt(fields[4], &code) || code < -128 || code > 127)
        return QStringLiteral("CV/CC code '%1' is not a code").arg(QString::fromStdString(excerpt(fields[4])));
    record->channel = int(channel);
    record->code = int(code);
    return {};
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

LogReadResult readLog(const QString& path, const std::function<void(const LogRecord&)>& take)
{
    LogReadResult result;
    const QByteArray name = path.toLocal8Bit();
    auto where = [&](long line) { return QStringLiteral("%1:%2: ").arg(path).arg(line); };
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(name.constData(), "rb"), &std::fclose);
    if (!file) {
        result.error = QStringLiteral("%1: cannot open: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return result;
    }

    std::vector<char> buffer(1 << 20);
    std::string line;    // the part of a line that crossed a buffer's end
    long number = 0;     // line number
    bool cutOff = false; // a line longer than any record
    auto handle = [&](std::string_view text) -> bool {
        ++number;
        if (!text.empty() && text.back() == '\r')
            text.remove_suffix(1);
        if (number == 1) {
            if (text != kHeader) {
                result.error = where(1) +
                    QStringLiteral("not a railmon log: the first line is not the header "
                                   "#time<TAB>ch<TAB>U<TAB>I<TAB>CV_CC");
                return false;
            }
            return true;
        }
        for (char c : text) {
            if (!logCharacter(c)) {
                result.error = where(number) +
                    QStringLiteral("not a railmon log record: '%1'").arg(QString::fromStdString(excerpt(text)));
                return false;
            }
        }
        if (text.empty()) {
            result.error = where(number) + QStringLiteral("an empty line, which railmon never writes");
            return false;
        }
        LogRecord record{};
        const QString wrong = damage(text, &record);
        if (wrong.isEmpty()) {
            ++result.records;
            take(record);
        } else {
            ++result.skipped;
            if (result.skipped <= kNamedDamage)
                result.warnings << where(number) + wrong + QStringLiteral(" (records glued together?); line skipped");
        }
        return true;
    };

    std::size_t got = 0;
    bool sawAny = false;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0) {
        sawAny = true;
        std::size_t start = 0;
        for (;;) {
            const void* found = std::memchr(buffer.data() + start, '\n', got - start);
            if (!found) {
                line.append(buffer.data() + start, got - start);
                cutOff = cutOff || line.size() > kLongestLine;
                break;
            }
            const std::size_t end = static_cast<const char*>(found) - buffer.data();
            std::string_view text(buffer.data() + start, end - start);
            if (!line.empty()) {
                line.append(text);
                text = line;
            }
            if (cutOff || text.size() > kLongestLine) {
                result.error = where(number + 1) + QStringLiteral("a line longer than any record");
                return result;
            }
            if (!handle(text))
                return result;
            line.clear();
            start = end + 1;
        }
        if (cutOff) {
            result.error = where(number + 1) + QStringLiteral("a line longer than any record");
            return result;
        }
    }
    if (std::ferror(file.get())) {
        result.error = QStringLiteral("%1: cannot read: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return result;
    }
    if (!sawAny) {
        result.error = where(1) + QStringLiteral("empty, not a railmon log");
        return result;
    }
    if (!line.empty()) {
        // Written by a run that ended in the middle of it.
        ++number;
        if (number == 1) {
            result.error = where(1) + QStringLiteral("not a railmon log: no whole first line");
            return result;
        }
        ++result.skipped;
        result.warnings << where(number) + QStringLiteral("the last line is cut off (no line end); skipped");
    }
    if (result.skipped > kNamedDamage)
        result.warnings << QStringLiteral("%1: %2 damaged lines skipped in all").arg(path).arg(result.skipped);
    result.ok = true;
    return result;
}
