// The remote interface's parser on a small table of recording handlers: what
// reaches a handler, what is answered and what is queued as an error.
#include "number_text.h"
#include "scpi.h"

#include <gtest/gtest.h>

#include <cmath>
#include <span>
#include <string>
#include <vector>

namespace {

// What the handlers were called with, one entry a call: "VOLT 0.5 (@1,3)".
std::vector<std::string> gCalls;

void record(ScpiCall& call, const char* name)
{
    std::string text = name;
    for (std::size_t i = 0; i < call.count(); ++i) {
        const ScpiParam& p = call.param(i);
        text += i == 0 ? " " : ",";
        switch (p.kind) {
        case ScpiArg::Number:
        case ScpiArg::Volts:
        case ScpiArg::Amperes: {
            const char* limits[] = {"", "MIN", "MAX", "DEF"};
            text += p.limit != ScpiLimit::None ? limits[static_cast<int>(p.limit)] : numberText(p.number, 6);
            break;
        }
        case ScpiArg::Boolean:
            text += p.boolean ? "ON" : "OFF";
            break;
        case ScpiArg::Channels:
            text += "(@";
            for (std::size_t c = 0; c < p.channels.size(); ++c)
                text += (c ? "," : "") + std::to_string(p.channels[c]);
            text += ")";
            break;
        default:
            text += "[" + p.text + "]";
            break;
        }
    }
    gCalls.push_back(text);
}

// A reading of channel n is n volts; none asked, channel 1.
void measureVoltage(ScpiCall& call)
{
    if (call.channels(0).empty())
        return call.answer(ScpiReading(1, 3));
    for (const int channel : call.channels(0))
        call.answer(ScpiReading(channel, 3));
}

const ScpiCommand kSupply[] = {
    {"[SOURce:]VOLTage[:LEVel][:IMMediate][:AMPLitude]",
     [](ScpiCall& c) { record(c, "VOLT"); },
     {ScpiArg::Volts, ScpiArg::Channels},
     1},
    {"[SOURce:]CURRent[:LEVel][:IMMediate][:AMPLitude]",
     [](ScpiCall& c) { record(c, "CURR"); },
     {ScpiArg::Amperes, ScpiArg::Channels},
     1},
    {"MEASure[:SCALar]:VOLTage[:DC]?", measureVoltage, {ScpiArg::Channels}},
    {"MEASure[:SCALar]:CURRent[:DC]?", [](ScpiCall& c) { c.answer(ScpiReading(std::nan(""), 3)); }},
    {"OUTPut[:STATe]", [](ScpiCall& c) { record(c, "OUTP"); }, {ScpiArg::Boolean}, 1},
    {"INSTrument[:SELect]", [](ScpiCall& c) { record(c, "INST"); }, {ScpiArg::Word}, 1},
    {"DISPlay:TEXT", [](ScpiCall& c) { record(c, "TEXT"); }, {ScpiArg::Text}, 1},
    {"STATus:QUEStionable:INSTrument:ISUMmary#:CONDition?",
     [](ScpiCall& c) { c.answer("isum" + std::to_string(c.suffix())); }},
    {"*IDN?", [](ScpiCall& c) { c.answer("railmon,test"); }},
    // One header, two forms: a limit word and a channel list, or the list alone.
    {"[SOURce:]VOLTage?", [](ScpiCall& c) { record(c, "VOLT? limit"); }, {ScpiArg::Number, ScpiArg::Channels}},
    {"[SOURce:]VOLTage?", [](ScpiCall& c) { record(c, "VOLT? list"); }, {ScpiArg::Channels}},
};

struct Session {
    std::vector<ScpiCommand> table = ScpiWithCommonCommands(kSupply);
    ScpiClientState client;
    Session() { gCalls.clear(); }
    std::string run(std::string_view line) { return ScpiExecute(table, client, line, nullptr); }
    // The calls since the last look, joined with " | ".
    std::string calls()
    {
        std::string joined;
        for (const std::string& call : gCalls)
            joined += (joined.empty() ? "" : " | ") + call;
        gCalls.clear();
        return joined;
    }
    // The queued error codes, oldest first, emptying the queue.
    std::vector<int> errors()
    {
        std::vector<int> codes;
        while (client.errors.size() > 0)
            codes.push_back(client.errors.pop().code);
        return codes;
    }
    // Each line reaches its handler as `call`, with no error.
    void expectTaken(std::span<const std::pair<const char*, const char*>> lines)
    {
        for (const auto& [line, call] : lines) {
            run(line);
            EXPECT_EQ(calls(), call) << line;
            EXPECT_EQ(errors(), std::vector<int>()) << line;
        }
    }
    // Each line queues its one error and reaches no handler.
    void expectRefused(std::span<const std::pair<std::string, int>> lines)
    {
        for (const auto& [line, code] : lines) {
            run(line);
            EXPECT_EQ(errors(), std::vector<int>{code}) << line;
        }
        EXPECT_EQ(calls(), "");
    }
};

using Codes = std::vector<int>;

} // namespace

TEST(ScpiHeaders, ShortOrLongFormAnyCaseOptionalNodesAndSuffix)
{
    Session s;
    for (const char* line : {"VOLT 5", "voltage 5", "SOUR:VOLT 5", ":Source:Voltage:Level:Immediate:Amplitude 5",
                             "volt:ampl 5", "SOUR:VOLT:IMM 5"}) {
        s.run(line);
        EXPECT_EQ(s.calls(), "VOLT 5") << line;
        EXPECT_EQ(s.errors(), Codes()) << line;
    }
    // Neither form: a longer abbreviation, a node out of order, a suffix the
    // pattern has no '#' for, a query's header without its '?'.
    for (const char* line : {"VOLTA 5", "MEASU:VOLT?", "VOLT:IMM:LEV 5", "VOLT2 5", "MEAS:VOLT", "*IDN", "IDN?"}) {
        s.run(line);
        EXPECT_EQ(s.calls(), "") << line;
        EXPECT_EQ(s.errors(), Codes{-113}) << line;
    }
    EXPECT_EQ(s.run("MEASURE:SCALAR:VOLTAGE:DC?"), "1.000\n");
    EXPECT_EQ(s.run("stat:ques:inst:isum3:cond?"), "isum3\n");
    EXPECT_EQ(s.run("STATUS:QUESTIONABLE:INSTRUMENT:ISUMMARY:CONDITION?"), "isum1\n");
    EXPECT_EQ(s.run("STAT:QUES:INST:ISUM0:COND?"), "");
    EXPECT_EQ(s.run("STAT:QUES:INST:ISUM99999999999:COND?"), "");
    EXPECT_EQ(s.errors(), (Codes{-114, -114}));
    // Header syntax: a node left empty, a header run into its parameter.
    for (const char* line : {"SOUR::VOLT 5", "VOLT: 5", ":", "VOLT,5", "*:IDN?", "SYST:*IDN?"}) {
        s.run(line);
        EXPECT_EQ(s.errors(), Codes{-102}) << line;
    }
    EXPECT_EQ(s.calls(), "");
}

TEST(ScpiMessages, CompoundHeadersKeepThePathUntilRootOrLineEnd)
{
    Session s;
    // After ';' a header continues from the previous one's path.
    s.run("SOUR:VOLT 5;CURR 1;VOLT 6");
    EXPECT_EQ(s.calls(), "VOLT 5 | CURR 1 | VOLT 6");
    EXPECT_EQ(s.run("MEAS:VOLT? (@2);CURR?"), "2.000;9.91E+37\n");
    // So OUTPut after SOURce: is SOURce:OUTPut, unknown, until ':' returns to the root.
    s.run("SOUR:VOLT 5;OUTP ON;:OUTP OFF");
    EXPECT_EQ(s.calls(), "VOLT 5 | OUTP OFF");
    EXPECT_EQ(s.errors(), Codes{-113});
    // A common command leaves the path as it was.
    EXPECT_EQ(s.run("MEAS:VOLT? (@3);*IDN?;CURR?"), "3.000;railmon,test;9.91E+37\n");
    // Each line starts at the root.
    s.run("SOUR:VOLT 5");
    s.run("OUTP ON");
    EXPECT_EQ(s.calls(), "VOLT 5 | OUTP ON");
    EXPECT_EQ(s.errors(), Codes());
    // An error ends its own unit before the handler, never the next one.
    s.run("VOLT 1,(@7);VOLT FOO;VOLT 1,(@1),2;CURR 2");
    EXPECT_EQ(s.calls(), "CURR 2");
    EXPECT_EQ(s.errors(), (Codes{-222, -224, -108}));
    // An empty unit is a syntax error; an empty line is nothing.
    s.run("VOLT 1;;CURR 1");
    EXPECT_EQ(s.run(" \t"), "");
    EXPECT_EQ(s.calls(), "VOLT 1 | CURR 1");
    EXPECT_EQ(s.errors(), Codes{-102});
}

TEST(ScpiParameters, NumbersSuffixesAndLimits)
{
    Session s;
    const std::pair<const char*, const char*> taken[] = {
        {"VOLT 5", "VOLT 5"},
        {"VOLT 5.0", "VOLT 5"},
        {"VOLT 5E-1", "VOLT 0.5"},
        {"VOLT -0.5", "VOLT -0.5"},
        {"VOLT +.5", "VOLT 0.5"},
        {"VOLT 5.", "VOLT 5"},
        {"VOLT 2.5e+1", "VOLT 25"},
        {"VOLT 500 mV", "VOLT 0.5"},
        {"VOLT 500MV", "VOLT 0.5"},
        {"VOLT 5 v", "VOLT 5"},
        {"CURR 20 MA", "CURR 0.02"},
        {"CURR 1.5A", "CURR 1.5"},
        {"VOLT MIN", "VOLT MIN"},
        {"VOLT maximum", "VOLT MAX"},
        {"CURR DEF,(@2)", "CURR DEF,(@2)"},
        {"VOLT   5  ,  (@1)  ", "VOLT 5,(@1)"},
    };
    s.expectTaken(taken);
    const std::pair<std::string, int> refused[] = {
        {"VOLT 5 A", -131},  {"CURR 5 MV", -131},  {"VOLT 5 UV", -131},  {"*ESE 5 V", -131},      {"VOLT --5", -120},
        {"VOLT 1E", -120},   {"VOLT 1E+", -120},   {"VOLT 5.0.1", -120}, {"VOLT .", -120},        {"VOLT 1E999", -222},
        {"VOLT FOO", -224},  {"VOLT \"5\"", -224}, {"VOLT (@1)", -224},  {"VOLT 5 5", -102},      {"VOLT 5,", -102},
        {"VOLT #H1F", -102}, {"VOLT", -109},       {"VOLT ", -109},      {"VOLT 1,(@1),2", -108}, {"*IDN? 1", -108},
        {"*ESE 256", -222},  {"*ESE MAX", -224},
    };
    s.expectRefused(refused);
}

TEST(ScpiParameters, ChannelListsBooleansWordsAndStrings)
{
    Session s;
    const std::pair<const char*, const char*> taken[] = {
        {"VOLT 1,(@1)", "VOLT 1,(@1)"},
        {"VOLT 1,(@1,3)", "VOLT 1,(@1,3)"},
        {"VOLT 1,(@1:4)", "VOLT 1,(@1,2,3,4)"},
        {"VOLT 1,(@4:2, 1)", "VOLT 1,(@4,3,2,1)"},
        {"OUTP ON", "OUTP ON"},
        {"outp off", "OUTP OFF"},
        {"OUTP 1", "OUTP ON"},
        {"OUTP 0", "OUTP OFF"},
        {"INST ch1", "INST [CH1]"},
        {"INST:SEL P18V", "INST [P18V]"},
        {"DISP:TEXT \"say \"\"hi\"\"\"", "TEXT [say \"hi\"]"},
        {"DISP:TEXT 'it''s; fine, 5 V'", "TEXT [it's; fine, 5 V]"},
        {"DISP:TEXT \"5 \xC2\xB5"
         "A\"",
         "TEXT [5 \xC2\xB5"
         "A]"},
    };
    s.expectTaken(taken);
    const std::pair<std::string, int> refused[] = {
        {"VOLT 1,(@0)", -222},
        {"VOLT 1,(@5)", -222},
        {"VOLT 1,(@1:5)", -222},
        {"VOLT 1,(@99999999999)", -222},
        {"VOLT 1,(@)", -102},
        {"VOLT 1,(@1", -102},
        {"VOLT 1,(@a)", -102},
        {"VOLT 1,(@1.5)", -102},
        {"VOLT 1,(1)", -102},
        {"VOLT 1,(@1))", -102},
        {"OUTP 2", -224},
        {"OUTP MAYBE", -224},
        {"OUTP 1 V", -131},
        {"OUTP (@1)", -224},
        {"INST \"CH1\"", -224},
        {"INST 1", -224},
        {"DISP:TEXT CH1", -224},
        {"DISP:TEXT \"open", -102},
        {"DISP:TEXT \"a\"b", -102},
        {std::string("DISP:TEXT \"a\0b\"", 15), -102},
        {"DISP:TEXT \"\xC0\xAF\"", -102},
    };
    s.expectRefused(refused);
}

TEST(ScpiErrors, QueueKeepsOrderAndMarksOverflow)
{
    Session s;
    EXPECT_EQ(s.run("SYST:ERR?"), "0,\"No error\"\n");
    s.run("VOLT");
    s.run("FOO");
    s.client.error(-222, "Data out of range;CH +18V above 18 V");
    EXPECT_EQ(s.run("SYST:ERR:COUN?;:SYST:ERR?;:SYSTEM:ERROR:NEXT?;NEXT?;:SYST:ERR?"),
              "3;-109,\"Missing parameter\";-113,\"Undefined header\";"
              "-222,\"Data out of range;CH +18V above 18 V\";0,\"No error\"\n");
    // 25 errors: the first 19 kept in order, the 20th place says the rest were lost.
    for (int i = 0; i < 25; ++i)
        s.run(i % 2 ? "FOO" : "VOLT");
    EXPECT_EQ(s.run("SYST:ERR:COUN?"), "20\n");
    Codes expected;
    for (int i = 0; i < 19; ++i)
        expected.push_back(i % 2 ? -113 : -109);
    expected.push_back(-350);
    EXPECT_EQ(s.errors(), expected);
    EXPECT_EQ(ScpiErrorText({-350, "Queue overflow"}), "-350,\"Queue overflow\"");
    EXPECT_EQ(ScpiErrorText({-200, "say \"no\""}), "-200,\"say \"\"no\"\"\"");
}

TEST(ScpiErrors, StatusCommandsOfTheParser)
{
    Session s;
    EXPECT_EQ(s.run("*STB?;*ESR?;*ESE?;*OPC?;SYST:VERS?"), "0;0;0;1;1999.0\n");
    s.run("FOO");
    // Bit 2: the queue holds an entry; *ESR bit 5: a command error.
    EXPECT_EQ(s.run("*STB?"), "4\n");
    s.run("*ESE 32;*OPC");
    EXPECT_EQ(s.run("*ESE?;*STB?;*ESR?;*ESR?"), "32;36;33;0\n");
    s.client.error(-222);
    s.client.error(-313, "Calibration memory lost");
    s.client.error(-410, "Query INTERRUPTED");
    EXPECT_EQ(s.run("*ESR?"), "28\n");
    s.run("*CLS");
    EXPECT_EQ(s.run("*STB?;SYST:ERR?;*WAI"), "0;0,\"No error\"\n");
}

TEST(ScpiAnswers, QueriesOfOneLineAnsweredInOneLine)
{
    Session s;
    const std::string answer = s.run("MEAS:VOLT? (@1:3);:VOLT 5;*IDN?;MEAS:CURR?;FOO?;*OPC?");
    EXPECT_EQ(answer, "1.000,2.000,3.000;railmon,test;9.91E+37;1\n");
    EXPECT_EQ(s.errors(), Codes{-113});
    EXPECT_EQ(s.run("VOLT 5;OUTP ON"), "");
    EXPECT_EQ(ScpiReading(5, 3), "5.000");
    EXPECT_EQ(ScpiReading(-0.0004, 3), "0.000");
    EXPECT_EQ(ScpiReading(-17.9996, 3), "-18.000");
    EXPECT_EQ(ScpiReading(1e300, 2).size(), 304u);
    EXPECT_EQ(ScpiReading(std::nan(""), 3), "9.91E+37");
    EXPECT_EQ(ScpiReading(-INFINITY, 3), "-9.9E+37");
}

TEST(ScpiLineBuffer, FramesLinesAndDiscardsOverrunsWhole)
{
    ScpiLineBuffer buffer;
    std::vector<std::string> events;
    auto feed = [&](std::string_view bytes) {
        for (;;) {
            const auto result = buffer.take(bytes);
            if (result == ScpiLineBuffer::Result::NeedMore)
                break;
            events.push_back(result == ScpiLineBuffer::Result::Line ? buffer.line() : "<overrun>");
        }
        EXPECT_TRUE(bytes.empty());
    };
    // A byte at a time, CR LF and LF alike; a lone CR stays in the line.
    for (const char c : std::string_view("VOLT 1\r\nCURR 2\n\nA\rB\n"))
        feed(std::string_view(&c, 1));
    EXPECT_EQ(events, (std::vector<std::string>{"VOLT 1", "CURR 2", "", "A\rB"}));
    events.clear();
    // 8 KiB is the most a line holds, its CR LF besides.
    const std::string longest(ScpiLineBuffer::kMaxLine, 'x');
    feed(longest + "\r\n" + longest + "y\n" + "next\n");
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0], longest);
    EXPECT_EQ(events[1], "<overrun>");
    EXPECT_EQ(events[2], "next");
    events.clear();
    // A stream with no LF for 100 KiB is one overrun, the rest of it dropped
    // up to its LF; the next line comes through.
    feed(std::string(ScpiLineBuffer::kMaxLine - 1, 'a'));
    for (int i = 0; i < 100; ++i)
        feed(std::string(1024, 'b'));
    feed("tail\nVOLT 2\n");
    EXPECT_EQ(events, (std::vector<std::string>{"<overrun>", "VOLT 2"}));

    // NUL and bytes that are not UTF-8 are syntax errors of their unit only.
    Session s;
    s.run(std::string("VOLT\0 1;CURR 1", 14));
    s.run("VOLT \xFF;VOLT 2\xC3;\xE2\x82;CURR 2");
    EXPECT_EQ(s.calls(), "CURR 1 | CURR 2");
    EXPECT_EQ(s.errors(), (Codes{-102, -102, -102, -102}));
}

TEST(ScpiTable, FaultsOfATableAreNamed)
{
    EXPECT_EQ(ScpiTableFaults(ScpiWithCommonCommands(kSupply)), std::vector<std::string>());
    auto handler = [](ScpiCall&) {};
    const ScpiCommand broken[] = {
        {"VOLTage[:LEVel", handler},
        {"volt", handler},
        {"VOLTage", nullptr},
        {"CURRent", handler, {ScpiArg::Amperes}, 2},
        {"OUTPut", handler, {ScpiArg::Boolean, ScpiArg::None, ScpiArg::Word}},
    };
    EXPECT_EQ(ScpiTableFaults(broken),
              (std::vector<std::string>{
                  "VOLTage[:LEVel: the pattern does not parse",
                  "volt: the pattern does not parse",
                  "VOLTage: no handler",
                  "CURRent: more parameters required than allowed",
                  "OUTPut: a parameter after the end of the list",
              }));
}

TEST(ScpiTable, RowsSharingAHeaderRunTheFirstWhoseParametersParse)
{
    Session s;
    const std::pair<const char*, const char*> taken[] = {
        {"VOLT?", "VOLT? limit"},
        {"VOLT? MAX", "VOLT? limit MAX"},
        {"VOLT? MIN,(@2)", "VOLT? limit MIN,(@2)"},
        {"VOLT? (@3,4)", "VOLT? list (@3,4)"},
    };
    s.expectTaken(taken);
    // No row takes these: the first row's error is reported, once.
    const std::pair<std::string, int> refused[] = {{"VOLT? CH1", -224}, {"VOLT? 1,(@1),2", -108}};
    s.expectRefused(refused);
}
