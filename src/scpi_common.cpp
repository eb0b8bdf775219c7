// The IEEE 488.2 common commands and the SYSTem commands that need only the
// parser's own state: the status registers, the error queue and the
// version. An instrument's table ends with these (ScpiWithCommonCommands).
#include "scpi.h"

#include <cmath>
#include <iterator>
#include <string>
#include <vector>

namespace {

void clearStatus(ScpiCall& call)
{
    call.client().errors.clear();
    call.client().eventStatus = 0;
}

void setEventEnable(ScpiCall& call)
{
    const double mask = call.number(0);
    if (call.limit(0) != ScpiLimit::None)
        return call.error(-224);
    // IEEE 488.2 rounds a mask to the nearest integer.
    if (!(mask > -0.5 && mask < 255.5))
        return call.error(-222);
    call.client().eventEnable = static_cast<unsigned char>(std::lround(mask));
}

void answerEventEnable(ScpiCall& call)
{
    call.answer(std::to_string(call.client().eventEnable));
}

// Reading the event status register clears it.
void answerEventStatus(ScpiCall& call)
{
    call.answer(std::to_string(call.client().eventStatus));
    call.client().eventStatus = 0;
}

// Bit 2: the error queue holds an entry; bit 5: an enabled event is set.
// No service requests on a socket, so bit 6 stays 0.
void answerStatusByte(ScpiCall& call)
{
    const ScpiClientState& client = call.client();
    const int status =
        (client.errors.size() > 0 ? 1 << 2 : 0) | ((client.eventStatus & client.eventEnable) ? 1 << 5 : 0);
    call.answer(std::to_string(status));
}

// Every command has finished by the time the next one is parsed.
void operationComplete(ScpiCall& call)
{
    call.client().eventStatus |= 1;
}

void answerOne(ScpiCall& call)
{
    call.answer("1");
}

void nothing(ScpiCall&) { }

void answerNextError(ScpiCall& call)
{
    call.answer(ScpiErrorText(call.client().errors.pop()));
}

void answerErrorCount(ScpiCall& call)
{
    call.answer(std::to_string(call.client().errors.size()));
}

void answerVersion(ScpiCall& call)
{
    call.answer("1999.0");
}

const ScpiCommand kCommonCommands[] = {
    {"*CLS", clearStatus},
    {"*ESE", setEventEnable, {ScpiArg::Number}, 1},
    {"*ESE?", answerEventEnable},
    {"*ESR?", answerEventStatus},
    {"*STB?", answerStatusByte},
    {"*OPC", operationComplete},
    {"*OPC?", answerOne},
    {"*WAI", nothing},
    {"SYSTem:ERRor[:NEXT]?", answerNextError},
    {"SYSTem:ERRor:COUNt?", answerErrorCount},
    {"SYSTem:VERSion?", answerVersion},
};

} // namespace

std::span<const ScpiCommand> ScpiCommonCommands()
{
    return kCommonCommands;
}

std::vector<ScpiCommand> ScpiWithCommonCommands(std::span<const ScpiCommand> own)
{
    std::vector<ScpiCommand> table(own.begin(), own.end());
    table.insert(table.end(), std::begin(kCommonCommands), std::end(kCommonCommands));
    return table;
}
