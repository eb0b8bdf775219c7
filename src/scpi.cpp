#include "scpi.h"

#include "library_text.h"
#include "number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

// A header or pattern longer than this matches nothing.
constexpr std::size_t kMaxNodes = 16;
constexpr std::size_t kMaxArgs = std::tuple_size_v<decltype(ScpiCommand::args)>;

// Only space and tab: IEEE 488.2 counts NUL and other control bytes as
// white space too, but here they mark a damaged line.
bool isSpace(char c)
{
    return c == ' ' || c == '\t';
}
// ASCII only, whatever the locale says.
bool isAlpha(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}
bool isMnemonicChar(char c)
{
    return isAlpha(c) || isDigit(c) || c == '_';
}
char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
bool equalNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i]))
            return false;
    return true;
}
std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

const char* standardMessage(int code)
{
    switch (code) {
    case -102:
        return "Syntax error";
    case -108:
        return "Parameter not allowed";
    case -109:
        return "Missing parameter";
    case -113:
        return "Undefined header";
    case -114:
        return "Header suffix out of range";
    case -120:
        return "Numeric data error";
    case -131:
        return "Invalid suffix";
    case -200:
        return "Execution error";
    case -221:
        return "Settings conflict";
    case -222:
        return "Data out of range";
    case -224:
        return "Illegal parameter value";
    case -240:
        return "Hardware error";
    case -241:
        return "Hardware missing";
    case -350:
        return "Queue overflow";
    case -363:
        return "Input buffer overrun";
    default:
        return "Error";
    }
}

// The *ESR bit of an error's class (IEEE 488.2 11.5.1).
unsigned char eventBit(int code)
{
    if (code <= -100 && code >= -199)
        return 1 << 5; // command error
    if (code <= -200 && code >= -299)
        return 1 << 4; // execution error
    if (code <= -400 && code >= -499)
        return 1 << 2;             // query error
    return code != 0 ? 1 << 3 : 0; // device-dependent, and the instrument's own
}

// ---- Patterns and headers ---------------------------------------------------

struct PatternNode {
    std::string_view name; // as written: "VOLTage"
    bool optional = false;
    bool suffix = false;
};

struct Pattern {
    std::array<PatternNode, kMaxNodes> nodes{};
    std::size_t count = 0;
    bool query = false;
    bool common = false;
};

// A node's name: a short form of uppercase letters and digits, then the
// rest of the long form in lowercase.
bool validNodeName(std::string_view name)
{
    if (name.empty() || !isAlpha(name[0]) || upper(name[0]) != name[0])
        return false;
    bool inLong = false;
    for (const char c : name) {
        const bool lower = c >= 'a' && c <= 'z';
        if (!lower && !(isAlpha(c) || isDigit(c)))
            return false;
        if (inLong && !lower)
            return false;
        inLong = inLong || lower;
    }
    return true;
}

bool parsePattern(const char* text, Pattern& pattern)
{
    if (!text)
        return false;
    std::string_view rest(text);
    pattern = Pattern();
    if (!rest.empty() && rest.back() == '?') {
        pattern.query = true;
        rest.remove_suffix(1);
    }
    if (!rest.empty() && rest.front() == '*') {
        pattern.common = true;
        rest.remove_prefix(1);
    }
    while (!rest.empty()) {
        PatternNode node;
        std::string_view part = rest;
        if (rest.front() == '[') {
            const std::size_t close = rest.find(']');
            if (close == std::string_view::npos)
                return false;
            node.optional = true;
            part = rest.substr(1, close - 1);
            rest.remove_prefix(close + 1);
            // "[:LEVel]" and "[SOURce:]" both put one node in brackets.
            if (!part.empty() && part.front() == ':')
                part.remove_prefix(1);
            else if (!part.empty() && part.back() == ':')
                part.remove_suffix(1);
        } else {
            if (rest.front() == ':')
                rest.remove_prefix(1);
            const std::size_t end = rest.find_first_of(":[");
            part = rest.substr(0, end);
            rest.remove_prefix(part.size());
        }
        if (!part.empty() && part.back() == '#') {
            node.suffix = true;
            part.remove_suffix(1);
        }
        if (!validNodeName(part) || pattern.count == kMaxNodes || (pattern.common && pattern.count > 0))
            return false;
        node.name = part;
        pattern.nodes[pattern.count++] = node;
    }
    return pattern.count > 0;
}

struct Header {
    std::array<std::string_view, kMaxNodes> nodes{};
    std::size_t count = 0;
    bool query = false;
    bool common = false;
    bool absolute = false;
};

// The header at the start of `unit`, leaving `unit` at what follows it.
// Returns 0 or the error it makes.
int parseHeader(std::string_view& unit, Header& header)
{
    std::size_t at = 0;
    auto mnemonic = [&]() -> std::string_view {
        const std::size_t start = at;
        if (at < unit.size() && isAlpha(unit[at]))
            while (at < unit.size() && isMnemonicChar(unit[at]))
                ++at;
        return unit.substr(start, at - start);
    };
    if (at < unit.size() && unit[at] == '*') {
        header.common = true;
        ++at;
    } else if (at < unit.size() && unit[at] == ':') {
        header.absolute = true;
        ++at;
    }
    for (;;) {
        const std::string_view node = mnemonic();
        if (node.empty())
            return -102;
        if (header.count == kMaxNodes)
            return -113;
        header.nodes[header.count++] = node;
        if (header.common || at == unit.size() || unit[at] != ':')
            break;
        ++at;
    }
    if (at < unit.size() && unit[at] == '?') {
        header.query = true;
        ++at;
    }
    if (at < unit.size() && !isSpace(unit[at]))
        return -102;
    unit.remove_prefix(at);
    return 0;
}

// Whether `typed` is `node` in its short or long form; `suffix` gets the
// numeric suffix (1 when left out, -1 when out of range).
bool matchNode(const PatternNode& node, std::string_view typed, int& suffix)
{
    if (node.suffix) {
        std::size_t digits = typed.size();
        while (digits > 0 && isDigit(typed[digits - 1]))
            --digits;
        const std::string_view number = typed.substr(digits);
        typed = typed.substr(0, digits);
        suffix = 1;
        if (!number.empty()) {
            const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), suffix);
            if (error != std::errc() || suffix < 1)
                suffix = -1;
        }
    }
    std::size_t shortLength = 0;
    while (shortLength < node.name.size() && !(node.name[shortLength] >= 'a' && node.name[shortLength] <= 'z'))
        ++shortLength;
    return equalNoCase(typed, node.name.substr(0, shortLength)) || equalNoCase(typed, node.name);
}

// Whether the header nodes from `at` match the pattern's from `from`, an
// optional node matched where it can be and left out where it must.
bool matchFrom(const Pattern& pattern, std::size_t from, std::span<const std::string_view> typed, int& suffix)
{
    if (from == pattern.count)
        return typed.empty();
    const PatternNode& node = pattern.nodes[from];
    int found = suffix;
    if (!typed.empty() && matchNode(node, typed.front(), found) &&
        matchFrom(pattern, from + 1, typed.subspan(1), found)) {
        suffix = found;
        return true;
    }
    return node.optional && matchFrom(pattern, from + 1, typed, suffix);
}

// ---- Parameters ---------------------------------------------------------------

// The end of the string that opens at `at` (on its closing quote), or npos;
// a doubled quote is one quote inside it.
std::size_t stringEnd(std::string_view text, std::size_t at)
{
    const char quote = text[at];
    for (std::size_t i = at + 1; i < text.size(); ++i) {
        if (text[i] != quote)
            continue;
        if (i + 1 < text.size() && text[i + 1] == quote)
            ++i;
        else
            return i;
    }
    return std::string_view::npos;
}

// Splits `text` at each `separator` outside strings and, for ',', outside
// parentheses. Returns false where a string or parenthesis is left open.
template <typename Each>
bool splitAt(std::string_view text, char separator, Each each)
{
    std::size_t start = 0;
    int depth = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : separator;
        if (i < text.size() && (c == '"' || c == '\'')) {
            i = stringEnd(text, i);
            if (i == std::string_view::npos)
                return false;
        } else if (separator == ',' && c == '(') {
            ++depth;
        } else if (separator == ',' && c == ')') {
            if (--depth < 0)
                return false;
        } else if (c == separator && depth == 0) {
            each(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return depth == 0;
}

int parseString(std::string_view token, ScpiParam& param)
{
    const std::size_t end = stringEnd(token, 0);
    if (end == std::string_view::npos || !trimmed(token.substr(end + 1)).empty())
        return -102;
    const char quote = token[0];
    for (std::size_t i = 1; i < end; ++i) {
        param.text += token[i];
        if (token[i] == quote)
            ++i;
    }
    return 0;
}

int parseChannel(std::string_view text, int& channel)
{
    text = trimmed(text);
    if (text.empty())
        return -102;
    for (const char c : text)
        if (!isDigit(c))
            return -102;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), channel);
    if (error != std::errc() || channel < 1 || channel > 4)
        return -222;
    return 0;
}

// (@1), (@1,3), (@1:4); a range may run downwards, (@4:1).
int parseChannels(std::string_view token, ScpiParam& param)
{
    if (token.size() < 3 || token[1] != '@' || token.back() != ')')
        return -102;
    int result = 0;
    const bool closed = splitAt(token.substr(2, token.size() - 3), ',', [&](std::string_view item) {
        if (result != 0)
            return;
        const std::size_t colon = item.find(':');
        int first = 0, last = 0;
        result = parseChannel(item.substr(0, colon), first);
        if (result == 0)
            result =
                colon == std::string_view::npos ? parseChannel(item, last) : parseChannel(item.substr(colon + 1), last);
        for (int c = first; result == 0; c += first <= last ? 1 : -1) {
            param.channels.push_back(c);
            if (c == last)
                break;
        }
    });
    return closed ? result : -102;
}

// NR1, NR2 or NR3 with the suffix `kind` allows, as a value in the kind's unit.
int parseNumber(std::string_view token, ScpiArg kind, ScpiParam& param)
{
    std::size_t at = 0;
    auto digits = [&] {
        const std::size_t start = at;
        while (at < token.size() && isDigit(token[at]))
            ++at;
        return at - start;
    };
    if (token[at] == '+' || token[at] == '-')
        ++at;
    std::size_t mantissa = digits();
    if (at < token.size() && token[at] == '.') {
        ++at;
        mantissa += digits();
    }
    if (mantissa == 0)
        return -120;
    if (at < token.size() && (token[at] == 'E' || token[at] == 'e')) {
        ++at;
        if (at < token.size() && (token[at] == '+' || token[at] == '-'))
            ++at;
        if (digits() == 0)
            return -120;
    }
    // from_chars takes no leading '+'.
    const std::size_t from = token[0] == '+' ? 1 : 0;
    const auto [end, error] = std::from_chars(token.data() + from, token.data() + at, param.number);
    if (error == std::errc::result_out_of_range)
        return -222;
    if (error != std::errc() || end != token.data() + at)
        return -120;
    if (at < token.size() && !isSpace(token[at]) && !isAlpha(token[at]))
        return -120;
    const std::string_view rest = trimmed(token.substr(at));
    std::size_t letters = 0;
    while (letters < rest.size() && isAlpha(rest[letters]))
        ++letters;
    if (letters != rest.size())
        return -102;
    double scale = 0;
    if (rest.empty() && kind != ScpiArg::Boolean)
        scale = 1;
    else if (kind == ScpiArg::Volts && (equalNoCase(rest, "V") || equalNoCase(rest, "MV")))
        scale = rest.size() == 1 ? 1 : 1e-3;
    else if (kind == ScpiArg::Amperes && (equalNoCase(rest, "A") || equalNoCase(rest, "MA")))
        scale = rest.size() == 1 ? 1 : 1e-3;
    else if (kind == ScpiArg::Boolean && rest.empty()) {
        if (param.number != 0 && param.number != 1)
            return -224;
        param.boolean = param.number == 1;
        return 0;
    } else
        return -131;
    param.number *= scale;
    return 0;
}

int parseWord(std::string_view token, ScpiArg kind, ScpiParam& param)
{
    std::size_t at = 0;
    while (at < token.size() && isMnemonicChar(token[at]))
        ++at;
    if (at < token.size())
        return -102;
    for (const char c : token)
        param.text += upper(c);
    const std::string_view word = param.text;
    if (kind == ScpiArg::Word)
        return 0;
    if (kind == ScpiArg::Boolean) {
        if (word != "ON" && word != "OFF")
            return -224;
        param.boolean = word == "ON";
        return 0;
    }
    if (kind == ScpiArg::Number || kind == ScpiArg::Volts || kind == ScpiArg::Amperes) {
        if (word == "MIN" || word == "MINIMUM")
            param.limit = ScpiLimit::Minimum;
        else if (word == "MAX" || word == "MAXIMUM")
            param.limit = ScpiLimit::Maximum;
        else if (word == "DEF" || word == "DEFAULT")
            param.limit = ScpiLimit::Default;
        else
            return -224;
        return 0;
    }
    return -224;
}

int parseParam(std::string_view token, ScpiArg kind, ScpiParam& param)
{
    param = ScpiParam();
    param.kind = kind;
    token = trimmed(token);
    if (token.empty())
        return -102;
    const char first = token[0];
    if (first == '"' || first == '\'') {
        const int result = parseString(token, param);
        return result != 0 ? result : kind == ScpiArg::Text ? 0 : -224;
    }
    if (first == '(') {
        const int result = parseChannels(token, param);
        return result != 0 ? result : kind == ScpiArg::Channels ? 0 : -224;
    }
    if (isDigit(first) || first == '+' || first == '-' || first == '.') {
        const bool numeric =
            kind == ScpiArg::Number || kind == ScpiArg::Volts || kind == ScpiArg::Amperes || kind == ScpiArg::Boolean;
        const int result = parseNumber(token, kind, param);
        return result != 0 ? result : numeric ? 0 : -224;
    }
    if (isAlpha(first))
        return parseWord(token, kind, param);
    return -102;
}

std::size_t allowedArgs(const ScpiCommand& command)
{
    std::size_t n = 0;
    while (n < kMaxArgs && command.args[n] != ScpiArg::None)
        ++n;
    return n;
}

} // namespace

// ---- The error queue and the client ------------------------------------------

void ScpiErrorQueue::push(int code, std::string_view message)
{
    if (code == 0)
        return;
    if (entries_.size() < kCapacity)
        entries_.push_back({code, std::string(message)});
    else
        entries_.back() = {-350, standardMessage(-350)};
}

ScpiError ScpiErrorQueue::pop()
{
    if (entries_.empty())
        return {0, "No error"};
    ScpiError oldest = std::move(entries_.front());
    entries_.pop_front();
    return oldest;
}

void ScpiClientState::error(int code, std::string_view message)
{
    eventStatus |= eventBit(code);
    if (errors.size() == ScpiErrorQueue::kCapacity)
        eventStatus |= eventBit(-350);
    errors.push(code, message.empty() ? std::string_view(standardMessage(code)) : message);
}

const ScpiParam& ScpiCall::param(std::size_t i) const
{
    static const ScpiParam absent;
    return i < count_ ? params_[i] : absent;
}

void ScpiCall::answer(std::string_view text)
{
    if (answered_)
        answer_ += ',';
    answer_ += text;
    answered_ = true;
}

// ---- Execution ----------------------------------------------------------------

struct ScpiRun {
    ScpiRun(std::span<const ScpiCommand> commands, ScpiClientState& state, void* handlerContext)
        : table(commands)
        , client(state)
        , context(handlerContext)
    {
    }
    std::span<const ScpiCommand> table;
    ScpiClientState& client;
    void* context;
    // The compound-header path: the nodes before the last of the previous
    // unit's header (IEEE 488.2 A.1.1).
    std::array<std::string_view, kMaxNodes> path{};
    std::size_t pathLength = 0;
    std::string response;

    // Runs one program message unit; an error ends it before its handler.
    void unit(std::string_view text)
    {
        text = trimmed(text);
        // A NUL or a byte that is not UTF-8 is damage, not a character.
        if (text.find('\0') != std::string_view::npos || !isUtf8(text))
            return client.error(-102);
        Header header;
        if (const int error = parseHeader(text, header); error != 0)
            return client.error(error);
        if (!header.common && !header.absolute) {
            if (pathLength + header.count > kMaxNodes)
                return client.error(-113);
            std::move_backward(header.nodes.begin(), header.nodes.begin() + header.count,
                               header.nodes.begin() + pathLength + header.count);
            std::copy(path.begin(), path.begin() + pathLength, header.nodes.begin());
            header.count += pathLength;
        }
        if (!header.common) {
            pathLength = header.count - 1;
            std::copy(header.nodes.begin(), header.nodes.begin() + pathLength, path.begin());
        }
        const std::span<const std::string_view> typed(header.nodes.data(), header.count);
        ScpiCall call(client, context);
        // Several rows may share a header with other parameters (VOLT? MAX
        // and VOLT? (@2)): the first whose parameters parse runs; when none
        // does, the first one's error is the one reported.
        const ScpiCommand* command = nullptr;
        int firstError = 0;
        bool matched = false;
        for (const ScpiCommand& candidate : table) {
            Pattern pattern;
            int suffix = 1;
            if (!candidate.handler || !parsePattern(candidate.pattern, pattern) || pattern.query != header.query ||
                pattern.common != header.common || !matchFrom(pattern, 0, typed, suffix))
                continue;
            if (!matched && suffix < 1)
                return client.error(-114);
            matched = true;
            call.suffix_ = suffix;
            call.params_ = {};
            const int error = parameters(candidate, trimmed(text), call);
            if (error == 0) {
                command = &candidate;
                break;
            }
            if (firstError == 0)
                firstError = error;
        }
        if (!matched)
            return client.error(-113);
        if (!command)
            return client.error(firstError);
        command->handler(call);
        if (call.answered_) {
            if (!response.empty())
                response += ';';
            response += call.answer_;
        }
    }

    static int parameters(const ScpiCommand& command, std::string_view text, ScpiCall& call)
    {
        const std::size_t allowed = allowedArgs(command);
        std::array<std::string_view, kMaxArgs> tokens{};
        std::size_t count = 0;
        if (!text.empty() && !splitAt(text, ',', [&](std::string_view token) {
                if (count < kMaxArgs)
                    tokens[count] = token;
                ++count;
            }))
            return -102;
        if (count > allowed)
            return -108;
        if (count < command.required)
            return -109;
        for (std::size_t i = 0; i < count; ++i)
            if (const int error = parseParam(tokens[i], command.args[i], call.params_[i]); error != 0)
                return error;
        call.count_ = count;
        return 0;
    }
};

std::string ScpiExecute(std::span<const ScpiCommand> table, ScpiClientState& client, std::string_view line,
                        void* context)
{
    if (trimmed(line).empty())
        return {};
    ScpiRun run(table, client, context);
    // A string left open runs to the end of the line: the last unit is then
    // a syntax error.
    std::size_t start = 0;
    const bool closed = splitAt(line, ';', [&](std::string_view unit) {
        run.unit(unit);
        start += unit.size() + 1;
    });
    if (!closed)
        run.unit(line.substr(start));
    if (!run.response.empty())
        run.response += '\n';
    return run.response;
}

std::vector<std::string> ScpiTableFaults(std::span<const ScpiCommand> table)
{
    std::vector<std::string> faults;
    for (const ScpiCommand& command : table) {
        const std::string name = command.pattern ? command.pattern : "(no pattern)";
        Pattern pattern;
        if (!parsePattern(command.pattern, pattern))
            faults.push_back(name + ": the pattern does not parse");
        if (!command.handler)
            faults.push_back(name + ": no handler");
        const std::size_t allowed = allowedArgs(command);
        for (std::size_t i = allowed; i < kMaxArgs; ++i)
            if (command.args[i] != ScpiArg::None)
                faults.push_back(name + ": a parameter after the end of the list");
        if (command.required > allowed)
            faults.push_back(name + ": more parameters required than allowed");
    }
    return faults;
}

// ---- Answers ---------------------------------------------------------------------

std::string ScpiReading(double value, int decimals)
{
    if (std::isnan(value))
        return "9.91E+37";
    if (std::isinf(value))
        return value > 0 ? "9.9E+37" : "-9.9E+37";
    return fixedText(value, decimals);
}

std::string ScpiErrorText(const ScpiError& error)
{
    std::string text = std::to_string(error.code) + ",\"";
    for (const char c : error.message) {
        text += c;
        if (c == '"')
            text += '"';
    }
    return text + '"';
}

// ---- Line framing ------------------------------------------------------------------

ScpiLineBuffer::Result ScpiLineBuffer::take(std::string_view& received)
{
    while (!received.empty()) {
        const std::size_t lf = received.find('\n');
        const std::string_view part = received.substr(0, lf);
        const bool ended = lf != std::string_view::npos;
        received.remove_prefix(ended ? lf + 1 : received.size());
        if (discarding_) {
            discarding_ = !ended;
            continue;
        }
        // One byte more than a line may hold, for the CR before its LF.
        if (pending_.size() + part.size() > kMaxLine + 1) {
            pending_.clear();
            discarding_ = !ended;
            return Result::Overrun;
        }
        pending_ += part;
        if (!ended)
            return Result::NeedMore;
        if (!pending_.empty() && pending_.back() == '\r')
            pending_.pop_back();
        line_.swap(pending_);
        pending_.clear();
        if (line_.size() > kMaxLine) {
            line_.clear();
            return Result::Overrun;
        }
        return Result::Line;
    }
    return Result::NeedMore;
}
