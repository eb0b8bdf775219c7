// The vendor library's 39 functions over the simulated supply, so railmon
// runs on a desk with no instrument. Settings come from the environment when
// the connection is opened (see docs/operator-guide.md):
//   TMI_SIM_STATE       state file (preset memories), see sim_state_file.h
//   TMI_SIM_LOAD        load of each output [ohm], "R1,R2,R3,R4"; "open" for none
//   TMI_SIM_NOISE       0 for exact readings
//   TMI_SIM_LATENCY_MS  delay of every call [ms], as a USB round trip would take
//   TMI_SIM_NO_DEVICE   1: no supply is connected, opening fails
// Faults, to see railmon survive them:
//   TMI_SIM_FAIL_AFTER  N: the device is gone after N calls past the open;
//                       every later call fails and leaves its outputs alone
//   TMI_SIM_READING     nan, inf, -inf or range: every measurement is NaN,
//                       infinite, or far outside any rating (1e12 V, -5 A)
//   TMI_SIM_CVCC        N: every measurement reports the CV/CC code N
//
// Results: 0 for success, a negative TMI_SIM_E* code for failure; a failed
// query leaves its outputs untouched.
#include "sim_state_file.h"
#include "sim_supply.h"
#include "tmi_api.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>

namespace {

enum {
    TMI_SIM_OK = 0,
    TMI_SIM_ENODEV = -1, // no device, or not this handle
    TMI_SIM_EINVAL = -2, // a channel, preset or value that does not exist
    TMI_SIM_ENULL = -3,  // a null output pointer
};

constexpr int kHandle = 1;     // any positive number would do; never 0
constexpr int kTextSize = 255; // callers' buffers hold 255 chars
const char kModelName[] = "PW-A 18/6 quad (simulated)";

struct Connection {
    sim::Supply supply;
    std::string statePath;
    bool warnedSave = false;
    int latencyMs = 0;
    long failAfter = -1; // calls until the device is gone; -1: never
    long calls = 0;
    std::string readingFault;
    std::optional<int> cvccCode;
    bool remote = false;
    int timeout = 1;
    // Settings the application never uses, kept so queries answer with what
    // was set, as the instrument would.
    unsigned char delay = 0, tracking = 0, trackingMode = 0, display = 1, srq = 0;
    unsigned char outputSel[sim::kChannels] = {1, 1, 1, 1};
    std::map<int, unsigned char> trackingGroup;
    std::map<std::pair<int, int>, double> trackingData;
    std::map<int, double> delayTime;
    std::string lastCommand;
};

std::mutex gMutex;
std::optional<Connection> gConnection;

bool envFlag(const char* name)
{
    const char* v = std::getenv(name);
    return v && *v && std::strcmp(v, "0") != 0;
}

void warn(const std::string& text)
{
    std::fprintf(stderr, "tmi-sim: %s\n", text.c_str());
}

void applyLoads(sim::Supply& supply)
{
    const char* text = std::getenv("TMI_SIM_LOAD");
    if (!text)
        return;
    std::stringstream list(text);
    std::string item;
    for (int ch = 1; ch <= sim::kChannels && std::getline(list, item, ','); ++ch) {
        if (item == "open") {
            supply.setLoad(ch, INFINITY);
            continue;
        }
        // A point in any locale.
        double ohms = 0.0;
        const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), ohms);
        if (error != std::errc() || end != item.data() + item.size() || !(ohms > 0.0))
            warn("TMI_SIM_LOAD: '" + item + "' is not a resistance in ohms; channel " + std::to_string(ch) +
                 " keeps its load");
        else
            supply.setLoad(ch, ohms);
    }
}

void persist(Connection& c)
{
    if (c.statePath.empty())
        return;
    std::string problem;
    if (!sim::saveMemory(c.statePath, c.supply.memory(), &problem) && !c.warnedSave) {
        // Once per run: the setpoints still hold in memory.
        warn(c.statePath + ": " + problem + "; presets are kept for this run only");
        c.warnedSave = true;
    }
}

// Changes the supply's memory as the state file holds it now, under the
// file's lock, and writes it back: two runs sharing one state file then lose
// none of each other's changes. False when the change is refused.
template <typename Change>
bool changeMemory(Connection& c, Change change)
{
    if (c.statePath.empty())
        return change(c.supply);
    const sim::StateFileLock lock(c.statePath);
    if (const sim::LoadedMemory now = sim::loadMemory(c.statePath); now.memory)
        c.supply.setMemory(*now.memory);
    if (!change(c.supply))
        return false;
    persist(c);
    return true;
}

// Every call but TMI_HandleOpen: the open connection behind the handle, after
// the latency a real round trip takes, with the lock held for the call.
class Call {
public:
    explicit Call(int handle)
        : lock_(gMutex)
    {
        if (gConnection && gConnection->latencyMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(gConnection->latencyMs));
        if (gConnection && handle == kHandle) {
            Connection& c = *gConnection;
            ++c.calls;
            if (c.failAfter < 0 || c.calls <= c.failAfter) {
                connection_ = &c;
                connection_->remote = true;
            }
        }
    }
    Connection* operator->() const { return connection_; }
    Connection& operator*() const { return *connection_; }
    explicit operator bool() const { return connection_ != nullptr; }

private:
    std::lock_guard<std::mutex> lock_;
    Connection* connection_ = nullptr;
};

// Why a call cannot be answered: no device, or nowhere to put the answer;
// TMI_SIM_OK when it can.
int refusal(const Call& call, bool outputsGiven)
{
    if (!call)
        return TMI_SIM_ENODEV;
    return outputsGiven ? TMI_SIM_OK : TMI_SIM_ENULL;
}

template <typename T>
int answer(const Call& call, T* out, T value)
{
    if (const int no = refusal(call, out != nullptr))
        return no;
    *out = value;
    return TMI_SIM_OK;
}

int writeText(char* buffer, const std::string& text)
{
    if (!buffer)
        return TMI_SIM_ENULL;
    std::snprintf(buffer, kTextSize, "%s", text.c_str());
    return TMI_SIM_OK;
}

void applyFaults(const Connection& c, sim::Reading& reading)
{
    const std::string& fault = c.readingFault;
    if (fault == "nan")
        reading.volts = reading.amps = NAN;
    else if (fault == "inf")
        reading.volts = reading.amps = INFINITY;
    else if (fault == "-inf")
        reading.volts = reading.amps = -INFINITY;
    else if (fault == "range")
        reading.volts = 1e12, reading.amps = -5.0;
    if (c.cvccCode)
        reading.code = static_cast<char>(*c.cvccCode);
}

} // namespace

// ---- Connection ------------------------------------------------------------

TMI_API_EXPORT int TMI_HandleOpen(char* dev, char* usb)
{
    std::lock_guard<std::mutex> lock(gMutex);
    (void)usb;
    if (envFlag("TMI_SIM_NO_DEVICE") || !dev || std::strcmp(dev, "PW-A") != 0)
        return TMI_SIM_ENODEV;
    Connection c;
    c.statePath = sim::stateFilePath();
    if (!c.statePath.empty()) {
        sim::LoadedMemory loaded = sim::loadMemory(c.statePath);
        if (loaded.memory)
            c.supply = sim::Supply(*loaded.memory);
        else if (!loaded.problem.empty())
            warn(c.statePath + ": " + loaded.problem + "; starting from factory presets");
    }
    applyLoads(c.supply);
    if (const char* noise = std::getenv("TMI_SIM_NOISE"); noise && std::string_view(noise) == "0")
        c.supply.setNoise(0.0, 0.0);
    if (const char* latency = std::getenv("TMI_SIM_LATENCY_MS"))
        c.latencyMs = std::clamp(std::atoi(latency), 0, 60000);
    if (const char* after = std::getenv("TMI_SIM_FAIL_AFTER"); after && *after)
        c.failAfter = std::max(0L, std::atol(after));
    if (const char* fault = std::getenv("TMI_SIM_READING"))
        c.readingFault = fault;
    if (const char* code = std::getenv("TMI_SIM_CVCC"); code && *code)
        c.cvccCode = std::atoi(code);
    gConnection = std::move(c);
    return kHandle;
}

TMI_API_EXPORT int TMI_HandleClose(int h)
{
    Call call(h);
    if (!call)
        return TMI_SIM_ENODEV;
    gConnection.reset(); // `call` is not used past this point
    return TMI_SIM_OK;
}

TMI_API_EXPORT int TMI_TimeOut(int h, int timeout)
{
    Call call(h);
    if (!call)
        return TMI_SIM_ENODEV;
    call->timeout = timeout;
    return TMI_SIM_OK;
}

TMI_API_EXPORT int TMI_Refresh(int h)
{
    Call call(h);
    return call ? TMI_SIM_OK : TMI_SIM_ENODEV;
}

TMI_API_EXPORT int TMI_ModelNameQ(int h, char* name)
{
    Call call(h);
    return call ? writeText(name, kModelName) : TMI_SIM_ENODEV;
}

TMI_API_EXPORT int TMI_RemoteLocal(int h)
{
    Call call(h);
    if (!call)
        return TMI_SIM_ENODEV;
    call->remote = false; // the front panel is the operator's again
    return TMI_SIM_OK;
}

TMI_API_EXPORT int TMI_LocalLockOut(int h)
{
    Call call(h);
    return call ? TMI_SIM_OK : TMI_SIM_ENODEV;
}

// ---- Setpoints and presets -------------------------------------------------

namespace {

int writeSetpoint(int h, int ch, int preset, double value, bool (sim::Supply::*set)(int, int, double))
{
    Call call(h);
    if (!call)
        return TMI_SIM_ENODEV;
    if (!changeMemory(*call, [&](sim::Supply& supply) { return (supply.*set)(ch, preset, value); }))
        return TMI_SIM_EINVAL;
    return TMI_SIM_OK;
}

int querySetpoint(int h, int ch, int preset, double* out, double sim::Setpoint::*field)
{
    Call call(h);
    if (!call)
        return TMI_SIM_ENODEV;
    if (!call->supply.validChannel(ch) || !call->supply.validPreset(preset))
        return TMI_SIM_EINVAL;
    return answer(call, out, call->supply.setpoint(ch, preset).*field);
}

} // namespace

TMI_API_EXPORT int TMI_Voltage(int h, unsigned char ch, unsigned char preset, double volts)
{
    return writeSetpoint(h, ch, preset, volts, &sim::Supply::setVoltage);
}

TMI_API_EXPORT int TMI_VoltageQ(int h, unsigned char ch, unsigned char preset, double* volts)
{
    return querySetpoint(h, ch, preset, volts, &sim::Setpoint::volts);
}

TMI_API_EXPORT int TMI_Current(int h, unsigned char ch, unsigned char preset, double amps)
{
    return writeSetpoint(h, ch, preset, amps, &sim::Supply::setCurrent);
}

TMI_API_EXPORT int TMI_CurrentQ(int h, unsigned char ch, unsigned char preset, double* amps)
{
    return querySetpoint(h, ch, preset, amps, &sim::Setpoint::amps);
}

TMI_API_EXPORT int TMI_Preset(int h, unsigned char preset)
{
    Call call(h);
    if (!call)
        return TMI_SIM_ENODEV;
    if (!changeMemory(*call, [&](sim::Supply& supply) { return supply.selectPreset(preset); }))
        return TMI_SIM_EINVAL;
    return TMI_SIM_OK;
}

TMI_API_EXPORT int TMI_PresetQ(int h, unsigned char* preset)
{
    Call call(h);
    return answer(call, preset, static_cast<unsigned char>(call ? call->supply.memory().activePreset : 0));
}

TMI_API_EXPORT int TMI_AllPresetQ(int h, double* values)
{
    // Preset-major: preset 1 channel 1 volts, amps, channel 2 volts, ... (32 values).
    Call call(h);
    if (const int no = refusal(call, values != nullptr))
        return no;
    for (const auto& preset : call->supply.memory().presets) {
        for (const sim::Setpoint& set : preset) {
            *values++ = set.volts;
            *values++ = set.amps;
        }
    }
    return TMI_SIM_OK;
}

TMI_API_EXPORT int TMI_AllPresetQS(int h, char* text)
{
    // "P1:12.00,0.45,-12.00,0.45,...;P2:..." within the 255-char buffer.
    Call call(h);
    if (!call)
        return TMI_SIM_ENODEV;
    std::string out;
    char item[32];
    int p = sim::kFirstPreset;
    for (const auto& preset : call->supply.memory().presets) {
        out += (p == sim::kFirstPreset ? "P" : ";P") + std::to_string(p) + ":";
        ++p;
        for (int ch = 0; ch < sim::kChannels; ++ch) {
            std::snprintf(item, sizeof item, "%s%.2f,%.2f", ch ? "," : "", preset[ch].volts, preset[ch].amps);
            out += item;
        }
    }
    return writeText(text, out);
}

TMI_API_EXPORT int TMI_DataBackUp(int h)
{
    Call call(h);
    if (!call)
        return TMI_SIM_ENODEV;
    persist(*call);
    return TMI_SIM_OK;
}

// ---- Output ----------------------------------------------------------------

TMI_API_EXPORT int TMI_MainOutput(int h, unsigned char state)
{
    Call call(h);
    if (!call)
        return TMI_SIM_ENODEV;
    if (state > 1)
        return TMI_SIM_EINVAL;
    call->supply.setMainOutput(state == 1);
    return TMI_SIM_OK;
}

TMI_API_EXPORT int TMI_MainOutputQ(int h, unsigned char* state)
{
    Call call(h);
    return answer(call, state, static_cast<unsigned char>(call && call->supply.mainOutput() ? 1 : 0));
}

TMI_API_EXPORT int TMI_MoniDataQ(int h, char ch, double* volts, double* amps, char* code)
{
    Call call(h);
    if (const int no = refusal(call, volts && amps && code))
        return no;
    if (!call->supply.validChannel(ch))
        return TMI_SIM_EINVAL;
    sim::Reading reading = call->supply.measure(ch);
    if (!call->outputSel[ch - 1])
        reading = sim::Reading{};
    applyFaults(*call, reading);
    *volts = reading.volts;
    *amps = reading.amps;
    *code = reading.code;
    return TMI_SIM_OK;
}

TMI_API_EXPORT int TMI_OutputSel(int h, unsigned char ch, unsigned char on)
{
    Call call(h);
    if (!call)
        return TMI_SIM_ENODEV;
    if (ch < 1 || ch > sim::kChannels || on > 1)
        return TMI_SIM_EINVAL;
    call->outputSel[ch - 1] = on;
    return TMI_SIM_OK;
}

TMI_API_EXPORT int TMI_OutputSelQ(int h, unsigned char ch, unsigned char* on)
{
    Call call(h);
    if (call && (ch < 1 || ch > sim::kChannels))
        return TMI_SIM_EINVAL;
    return answer(call, on, call ? call->outputSel[ch - 1] : static_cast<unsigned char>(0));
}

// ---- Settings the application leaves alone ----------------------------------

#define TMI_SIM_BYTE_SETTING(setter, query, field)                                      \
    TMI_API_EXPORT int setter(int h, unsigned char value)                               \
    {                                                                                   \
        Call call(h);                                                                   \
        if (!call)                                                                      \
            return TMI_SIM_ENODEV;                                                      \
        call->field = value;                                                            \
        return TMI_SIM_OK;                                                              \
    }                                                                                   \
    TMI_API_EXPORT int query(int h, unsigned char* value)                               \
    {                                                                                   \
        Call call(h);                                                                   \
        return answer(call, value, call ? call->field : static_cast<unsigned char>(0)); \
    }

TMI_SIM_BYTE_SETTING(TMI_Delay, TMI_DelayQ, delay)
TMI_SIM_BYTE_SETTING(TMI_TrackingOnOff, TMI_TrackingOnOffQ, tracking)
TMI_SIM_BYTE_SETTING(TMI_TrackingMode, TMI_TrackingModeQ, trackingMode)
TMI_SIM_BYTE_SETTING(TMI_Display, TMI_DisplayQ, display)
#undef TMI_SIM_BYTE_SETTING

TMI_API_EXPORT int TMI_SRQEnable(int h, unsigned char on)
{
    Call call(h);
    if (!call)
        return TMI_SIM_ENODEV;
    call->srq = on;
    return TMI_SIM_OK;
}

TMI_API_EXPORT int TMI_TrackingGroup(int h, unsigned char group, unsigned char value)
{
    Call call(h);
    if (!call)
        return TMI_SIM_ENODEV;
    call->trackingGroup[group] = value;
    return TMI_SIM_OK;
}

TMI_API_EXPORT int TMI_TrackingGroupQ(int h, unsigned char group, unsigned char* value)
{
    Call call(h);
    if (!call)
        return TMI_SIM_ENODEV;
    const auto it = call->trackingGroup.find(group);
    return answer(call, value, it == call->trackingGroup.end() ? static_cast<unsigned char>(0) : it->second);
}

TMI_API_EXPORT int TMI_TrackingData(int h, unsigned char a, unsigned char b, double value)
{
    Call call(h);
    if (!call)
        return TMI_SIM_ENODEV;
    call->trackingData[{a, b}] = value;
    return TMI_SIM_OK;
}

TMI_API_EXPORT int TMI_TrackingDataQ(int h, unsigned char a, unsigned char b, double* value)
{
    Call call(h);
    if (!call)
        return TMI_SIM_ENODEV;
    const auto it = call->trackingData.find({a, b});
    return answer(call, value, it == call->trackingData.end() ? 0.0 : it->second);
}

TMI_API_EXPORT int TMI_DelayTime(int h, unsigned char ch, double seconds)
{
    Call call(h);
    if (!call)
        return TMI_SIM_ENODEV;
    if (!std::isfinite(seconds) || seconds < 0.0)
        return TMI_SIM_EINVAL;
    call->delayTime[ch] = seconds;
    return TMI_SIM_OK;
}

TMI_API_EXPORT int TMI_DelayTimeQ(int h, unsigned char ch, double* seconds)
{
    Call call(h);
    if (!call)
        return TMI_SIM_ENODEV;
    const auto it = call->delayTime.find(ch);
    return answer(call, seconds, it == call->delayTime.end() ? 0.0 : it->second);
}

TMI_API_EXPORT int TMI_AdrQ(int h, unsigned char* address)
{
    Call call(h);
    return answer(call, address, static_cast<unsigned char>(1)); // "USB:1:1"
}

// A raw command channel: TMI_Out sends a command, TMI_In reads the answer.
// Only the identification query is understood.
TMI_API_EXPORT int TMI_Out(int h, char* command)
{
    Call call(h);
    if (const int no = refusal(call, command != nullptr))
        return no;
    call->lastCommand.assign(command, strnlen(command, kTextSize));
    return TMI_SIM_OK;
}

TMI_API_EXPORT int TMI_In(int h, char* answerText)
{
    Call call(h);
    if (!call)
        return TMI_SIM_ENODEV;
    const bool identify = call->lastCommand.rfind("*IDN?", 0) == 0;
    call->lastCommand.clear();
    return writeText(answerText, identify ? kModelName : "ERR unknown command");
}

// railmon's own simulator, as it tells railmon.
TMI_API_EXPORT int railmon_simulated_supply(void)
{
    return 1;
}

// Each export must have exactly the prototype that railmon binds it with.
#define TMI_CHECK_PROTOTYPE(name, params) \
    static_assert(std::is_same_v<decltype(&name), int(*) params>, #name " has the wrong prototype");
TMI_API_FUNCTIONS(TMI_CHECK_PROTOTYPE)
#undef TMI_CHECK_PROTOTYPE
