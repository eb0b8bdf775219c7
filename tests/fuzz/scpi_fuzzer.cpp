// libFuzzer target: any bytes as what a remote client sends. The line
// buffer and the parser must take them without crashing, hanging or
// corrupting memory, and keep their promises: one answer line a message,
// never more queued errors than the queue holds.
#include "scpi.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Touches every parameter a handler may read, whatever the kind.
void readAll(ScpiCall& call)
{
    std::size_t sum = static_cast<std::size_t>(call.suffix());
    for (std::size_t i = 0; i <= call.count(); ++i)
        sum += static_cast<std::size_t>(call.number(i) == 0) + call.channels(i).size() + call.text(i).size() +
            static_cast<std::size_t>(call.boolean(i)) + static_cast<std::size_t>(call.limit(i));
    if (sum == 7)
        call.error(-222);
}

void answerAll(ScpiCall& call)
{
    readAll(call);
    for (const int channel : call.channels(0))
        call.answer(ScpiReading(channel * 1.5, 3));
    call.answer(ScpiReading(call.number(0), 2));
}

const ScpiCommand kDummies[] = {
    {"[SOURce:]VOLTage[:LEVel][:IMMediate][:AMPLitude]", readAll, {ScpiArg::Volts, ScpiArg::Channels}, 1},
    {"[SOURce:]CURRent[:LEVel][:IMMediate][:AMPLitude]", readAll, {ScpiArg::Amperes, ScpiArg::Channels}, 1},
    {"[SOURce:]VOLTage[:LEVel][:IMMediate][:AMPLitude]?", answerAll, {ScpiArg::Number, ScpiArg::Channels}},
    {"MEASure[:SCALar]:VOLTage[:DC]?", answerAll, {ScpiArg::Channels}},
    {"OUTPut[:STATe]", readAll, {ScpiArg::Boolean, ScpiArg::Channels}, 1},
    {"INSTrument[:SELect]", readAll, {ScpiArg::Word}, 1},
    {"DISPlay:TEXT", readAll, {ScpiArg::Text, ScpiArg::Number, ScpiArg::Word, ScpiArg::Boolean}, 1},
    {"STATus:QUEStionable:INSTrument:ISUMmary#:CONDition?", answerAll},
    {"*IDN?", answerAll},
};

const std::vector<ScpiCommand> kTable = ScpiWithCommonCommands(kDummies);

void check(bool holds)
{
    if (!holds)
        std::abort();
}

// No answer here carries a LF of its own: the message's one LF ends it.
void checkAnswer(const std::string& answer)
{
    check(answer.empty() || answer.find('\n') == answer.size() - 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ScpiClientState client;
    // Once as one line, as a caller that frames lines itself would pass it.
    const std::string whole = ScpiExecute(kTable, client, bytes, nullptr);
    checkAnswer(whole);
    // Once framed, in two pieces split where the first byte says.
    ScpiLineBuffer buffer;
    const std::size_t cut = size > 0 ? data[0] % (size + 1) : 0;
    for (std::string_view piece : {bytes.substr(0, cut), bytes.substr(cut)}) {
        for (;;) {
            const ScpiLineBuffer::Result result = buffer.take(piece);
            if (result == ScpiLineBuffer::Result::NeedMore)
                break;
            if (result == ScpiLineBuffer::Result::Overrun) {
                client.error(-363);
                continue;
            }
            check(buffer.line().size() <= ScpiLineBuffer::kMaxLine);
            checkAnswer(ScpiExecute(kTable, client, buffer.line(), nullptr));
        }
        check(piece.empty());
    }
    check(client.errors.size() <= ScpiErrorQueue::kCapacity);
    return 0;
}
