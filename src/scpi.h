// The remote interface's message parser: SCPI program messages as IEEE 488.2
// frames them, matched against one table of command patterns, each with its
// handler. Matching, parameter checks and the errors all come from the
// table; a handler sees only parameters already checked. No sockets here:
// the caller frames received bytes with ScpiLineBuffer, runs each line with
// ScpiExecute and writes the answer it returns in one write.
// docs/scpi.md has the message rules and the errors.
#pragma once

#include <array>
#include <cstddef>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What one parameter of a command takes.
enum class ScpiArg : unsigned char {
    None,     // (ends the list)
    Number,   // NR1, NR2 or NR3, or MIN, MAX, DEF; no suffix
    Volts,    // a number in volts: bare, or with the suffix V or MV
    Amperes,  // a number in amperes: bare, or with the suffix A or MA
    Boolean,  // ON, OFF, 1 or 0
    Channels, // a channel list: (@1), (@1,3), (@1:4); channels 1 to 4
    Word,     // character data: CH1, P18V (handed over uppercased)
    Text,     // a quoted string, '...' or "..."
};

// A number given as a word instead of a value.
enum class ScpiLimit : unsigned char { None, Minimum, Maximum, Default };

struct ScpiParam {
    ScpiArg kind = ScpiArg::None;
    ScpiLimit limit = ScpiLimit::None;
    double number = 0; // volts or amperes for those kinds, suffix applied
    bool boolean = false;
    std::vector<int> channels; // as listed, ranges written out
    std::string text;          // a word uppercased, a string's content unquoted
};

struct ScpiError {
    int code = 0;
    std::string message;
};

// The error/event queue of one client: 20 entries, the oldest read first.
// When full, the newest entry is replaced by -350 "Queue overflow".
class ScpiErrorQueue {
public:
    static constexpr std::size_t kCapacity = 20;
    void push(int code, std::string_view message);
    // The oldest entry, removed; 0 "No error" when there is none.
    ScpiError pop();
    std::size_t size() const { return entries_.size(); }
    void clear() { entries_.clear(); }

private:
    std::deque<ScpiError> entries_;
};

// What the parser keeps for one client between its messages.
struct ScpiClientState {
    ScpiErrorQueue errors;
    unsigned char eventStatus = 0; // *ESR: bit 0 OPC, 2 query, 3 device, 4 execution, 5 command error
    unsigned char eventEnable = 0; // *ESE
    // Queues the error and sets its class's bit in *ESR; with no message,
    // the standard one for the code (-222 "Data out of range").
    void error(int code, std::string_view message = {});
};

// One program message unit on its way to its handler.
class ScpiCall {
public:
    std::size_t count() const { return count_; }
    // Parameter `i`'s value; an absent one reads as 0, false, empty, None.
    double number(std::size_t i) const { return param(i).number; }
    ScpiLimit limit(std::size_t i) const { return param(i).limit; }
    bool boolean(std::size_t i) const { return param(i).boolean; }
    const std::vector<int>& channels(std::size_t i) const { return param(i).channels; }
    const std::string& text(std::size_t i) const { return param(i).text; }
    const ScpiParam& param(std::size_t i) const;
    // The header's numeric suffix where the pattern has '#' (1 when left out).
    int suffix() const { return suffix_; }
    void* context() const { return context_; }
    ScpiClientState& client() const { return client_; }
    void error(int code, std::string_view message = {}) { client_.error(code, message); }
    // Adds to this unit's answer; several calls are joined with ','.
    void answer(std::string_view text);

private:
    friend struct ScpiRun;
    ScpiCall(ScpiClientState& client, void* context)
        : client_(client)
        , context_(context)
    {
    }
    ScpiClientState& client_;
    void* context_;
    std::array<ScpiParam, 4> params_{};
    std::size_t count_ = 0;
    int suffix_ = 1;
    std::string answer_;
    bool answered_ = false;
};

using ScpiHandler = void (*)(ScpiCall&);

// One row of the command table. `pattern` in SCPI notation: uppercase is
// the short form, [optional nodes], '#' a numeric suffix, a final '?' a
// query (a pattern of its own). `args` lists what each parameter takes, up
// to four: that many are allowed, the first `required` must be given.
struct ScpiCommand {
    const char* pattern;
    ScpiHandler handler;
    std::array<ScpiArg, 4> args{};
    unsigned char required = 0;
};

// Runs one line (without its LF) for the client; returns the answers of
// its queries joined with ';' and ended with LF, or "" when none answered.
std::string ScpiExecute(std::span<const ScpiCommand> table, ScpiClientState& client, std::string_view line,
                        void* context);

// The IEEE 488.2 common commands and SYSTem commands that need nothing but
// the parser: *CLS, *ESE, *ESE?, *ESR?, *STB?, *OPC, *OPC?, *WAI,
// SYSTem:ERRor[:NEXT]?, SYSTem:ERRor:COUNt?, SYSTem:VERSion?.
std::span<const ScpiCommand> ScpiCommonCommands();
// `own` followed by the common commands: the table an instrument runs.
std::vector<ScpiCommand> ScpiWithCommonCommands(std::span<const ScpiCommand> own);

// What is wrong with a table, one line a row (a pattern that does not
// parse, no handler, more required than allowed); empty when nothing is.
std::vector<std::string> ScpiTableFaults(std::span<const ScpiCommand> table);

// A reading as an answer: `decimals` after the point, never a unit; NaN
// (no reading) as SCPI's not-a-number 9.91E+37, infinities as +/-9.9E+37.
std::string ScpiReading(double value, int decimals);
// An error as SYSTem:ERRor? answers it: -113,"Undefined header".
std::string ScpiErrorText(const ScpiError& error);

// Received bytes framed into lines: LF ends a line, a CR before it is
// dropped. A line longer than kMaxLine bytes is discarded up to its LF and
// reported once as Overrun; no more than one line's worth is ever held.
class ScpiLineBuffer {
public:
    static constexpr std::size_t kMaxLine = 8192;
    enum class Result { NeedMore, Line, Overrun };
    // Consumes `received` up to and including the next LF. On Line the line
    // is in line(); on NeedMore all of `received` is consumed and kept.
    Result take(std::string_view& received);
    const std::string& line() const { return line_; }

private:
    std::string pending_;
    std::string line_;
    bool discarding_ = false;
};
