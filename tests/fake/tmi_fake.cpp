// A recording stand-in for the vendor library: every call is logged with its
// arguments, and answers are fixed formulas or environment settings, so tests
// can tell exactly what railmon asked and what it did with the answers.
//
// The call log: one line per call, "Name arg arg ...", kept in memory
// (TMI_FakeCallLog, TMI_FakeClearLog) and, when TMI_FAKE_LOG names a file,
// appended there as well, so a test can read it after the process is gone.
//
// Answers:
//   TMI_HandleOpen   TMI_FAKE_HANDLE (default 7)
//   TMI_ModelNameQ   "FAKE PW-A"
//   TMI_MainOutputQ  the state last switched to, else TMI_FAKE_MAINOUT (default
//                    1); with TMI_FAKE_MAINOUT_STUCK=1 always TMI_FAKE_MAINOUT,
//                    as a supply whose output does not follow
//   TMI_PresetQ      TMI_FAKE_PRESET (default 2)
//   TMI_VoltageQ     the value last written to (ch, p), else fakeVoltage(ch, p)
//   TMI_CurrentQ     the value last written to (ch, p), else fakeCurrent(ch, p)
//   TMI_Voltage/Current  store the value, clamped to TMI_FAKE_CLAMP when set and
//                    rounded to a multiple of TMI_FAKE_RESOLUTION when set, as
//                    a supply keeps its setpoints at its own resolution
//   TMI_MoniDataQ    fakeMoniVolts(ch), fakeMoniAmps(ch) and the ch-th entry of
//                    TMI_FAKE_CVCC ("c1,c2,c3,c4", default 0,1,0,1); with
//                    TMI_FAKE_MONI_FAIL=1 it fails and writes nothing;
//                    TMI_FAKE_MONI_VOLTS=X reports X volts on every channel
// All other calls succeed and write zeros into their outputs.
// Misbehaviour, for the faults railmon must survive:
//   TMI_FAKE_SILENT      "TMI_VoltageQ,TMI_PresetQ,...": these queries fail
//                        and write nothing
//   TMI_FAKE_LATENCY_MS  every call takes this long, as a slow USB link would
//   TMI_FAKE_MODEL_LENGTH  N: the model name is N chars long, past the 255 the
//                        library promises
//   TMI_FAKE_MODEL_HEX   the model name's bytes in hex ("1b5b326a"), any bytes
//                        a library might write: escapes, line ends, not UTF-8
//   TMI_FAKE_SETLOCALE   a locale the library sets for the whole process with
//                        setlocale(LC_ALL, ...) at every call, as some do
// Timing, for benchmarks: TMI_FAKE_TIMES names a file to which each call
// appends "<seconds> Name" when it starts, seconds of the monotonic clock
// (CLOCK_MONOTONIC, Python's time.monotonic()).
#include "fake_answers.h"
#include "tmi_api.h"

#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>

// The 39 are exported as any implementation of the library exports them (a
// build that leaves one out lists the rest itself); the fake's own calls for
// tests always are.
#define FAKE_EXPORT TMI_API_EXPORT
#ifdef _WIN32
#define FAKE_TEST_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_TEST_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

std::string& memoryLog()
{
    static std::string log;
    return log;
}

std::map<std::pair<int, int>, double>& stored(bool voltage)
{
    static std::map<std::pair<int, int>, double> volts, amps;
    return voltage ? volts : amps;
}

int envInt(const char* name, int fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

void slowDown()
{
    if (const int ms = envInt("TMI_FAKE_LATENCY_MS", 0); ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    if (const char* locale = std::getenv("TMI_FAKE_SETLOCALE"); locale && *locale)
        std::setlocale(LC_ALL, locale);
}

// True when TMI_FAKE_SILENT names this query: it then fails, writing nothing.
bool silent(const char* name)
{
    const char* list = std::getenv("TMI_FAKE_SILENT");
    if (!list)
        return false;
    std::stringstream items(list);
    for (std::string item; std::getline(items, item, ',');)
        if (item == name)
            return true;
    return false;
}

void noteStart(const char* name)
{
    const char* path = std::getenv("TMI_FAKE_TIMES");
    if (!path || !*path)
        return;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    if (FILE* f = std::fopen(path, "ab")) {
        std::fprintf(f, "%.6f %s\n", seconds, name);
        std::fclose(f);
    }
}

template <typename... Args>
void record(const char* name, Args... args)
{
    if (name[0] != '#') {
        noteStart(name);
        slowDown();
    }
    std::ostringstream line;
    line << name;
    ((line << ' ' << args), ...);
    line << '\n';
    memoryLog() += line.str();
    if (const char* path = std::getenv("TMI_FAKE_LOG"); path && *path) {
        // Binary: the same bytes on every system.
        if (FILE* f = std::fopen(path, "ab")) {
            std::fputs(line.str().c_str(), f);
            std::fclose(f);
        }
    }
}

double clampToSetting(double value)
{
    const char* limit = std::getenv("TMI_FAKE_CLAMP");
    if (!limit || !*limit)
        return value;
    // A limit on the magnitude, as a rating holds for either polarity.
    const double max = std::atof(limit);
    return value > max ? max : value < -max ? -max : value;
}

double storedSetpoint(double value)
{
    value = clampToSetting(value);
    const char* resolution = std::getenv("TMI_FAKE_RESOLUTION");
    const double step = resolution && *resolution ? std::atof(resolution) : 0.0;
    return step > 0 ? std::round(value / step) * step : value;
}

// The state TMI_MainOutput last switched to; -1 before any switching.
int& switchedOutput()
{
    static int state = -1;
    return state;
}

char cvccCode(int ch)
{
    const char* text = std::getenv("TMI_FAKE_CVCC");
    if (!text)
        return static_cast<char>((ch - 1) % 2);
    std::stringstream list(text);
    std::string item;
    for (int i = 1; std::getline(list, item, ','); ++i) {
        if (i == ch)
            return static_cast<char>(std::atoi(item.c_str()));
    }
    return 0;
}

// Characters are logged as numbers, not as raw bytes.
int num(char c)
{
    return static_cast<signed char>(c);
}
int num(unsigned char c)
{
    return c;
}

} // namespace

// Marks the log when the library is loaded at all, so a test can tell "never
// loaded" from "loaded but not called".
__attribute__((constructor)) static void recordLoad()
{
    record("# loaded");
}

FAKE_TEST_EXPORT const char* TMI_FakeCallLog()
{
    return memoryLog().c_str();
}
FAKE_TEST_EXPORT void TMI_FakeClearLog()
{
    memoryLog().clear();
}
// Lets a test put its own observations into the log, in order with the calls.
FAKE_TEST_EXPORT void TMI_FakeNote(const char* line)
{
    record(line);
}

FAKE_EXPORT int TMI_HandleOpen(char* dev, char* usb)
{
    record("TMI_HandleOpen", dev ? dev : "(null)", usb ? usb : "(null)");
    return envInt("TMI_FAKE_HANDLE", 7);
}

FAKE_EXPORT int TMI_ModelNameQ(int h, char* name)
{
    record("TMI_ModelNameQ", h);
    if (const int length = envInt("TMI_FAKE_MODEL_LENGTH", 0); length > 0) {
        std::memset(name, 'M', static_cast<size_t>(length));
        name[length] = '\0';
        return 0;
    }
    if (const char* hex = std::getenv("TMI_FAKE_MODEL_HEX"); hex && *hex) {
        size_t n = 0;
        for (; hex[2 * n] && hex[2 * n + 1] && n < 254; ++n)
            name[n] = static_cast<char>(std::stoi(std::string(hex + 2 * n, 2), nullptr, 16));
        name[n] = '\0';
        return 0;
    }
    std::strcpy(name, "FAKE PW-A");
    return 0;
}

FAKE_EXPORT int TMI_MainOutputQ(int h, unsigned char* state)
{
    record("TMI_MainOutputQ", h);
    if (silent("TMI_MainOutputQ"))
        return -1;
    const bool follows = switchedOutput() >= 0 && envInt("TMI_FAKE_MAINOUT_STUCK", 0) == 0;
    *state = static_cast<unsigned char>(follows ? switchedOutput() : envInt("TMI_FAKE_MAINOUT", 1));
    return 0;
}

FAKE_EXPORT int TMI_PresetQ(int h, unsigned char* preset)
{
    record("TMI_PresetQ", h);
    if (silent("TMI_PresetQ"))
        return -1;
    *preset = static_cast<unsigned char>(envInt("TMI_FAKE_PRESET", 2));
    return 0;
}

FAKE_EXPORT int TMI_Voltage(int h, unsigned char ch, unsigned char p, double v)
{
    record("TMI_Voltage", h, num(ch), num(p), v);
    stored(true)[{ch, p}] = storedSetpoint(v);
    return 0;
}

FAKE_EXPORT int TMI_Current(int h, unsigned char ch, unsigned char p, double a)
{
    record("TMI_Current", h, num(ch), num(p), a);
    stored(false)[{ch, p}] = storedSetpoint(a);
    return 0;
}

FAKE_EXPORT int TMI_VoltageQ(int h, unsigned char ch, unsigned char p, double* v)
{
    record("TMI_VoltageQ", h, num(ch), num(p));
    if (silent("TMI_VoltageQ"))
        return -1;
    const auto it = stored(true).find({ch, p});
    *v = it != stored(true).end() ? it->second : fakeVoltage(ch, p);
    return 0;
}

FAKE_EXPORT int TMI_CurrentQ(int h, unsigned char ch, unsigned char p, double* a)
{
    record("TMI_CurrentQ", h, num(ch), num(p));
    if (silent("TMI_CurrentQ"))
        return -1;
    const auto it = stored(false).find({ch, p});
    *a = it != stored(false).end() ? it->second : fakeCurrent(ch, p);
    return 0;
}

FAKE_EXPORT int TMI_MoniDataQ(int h, char ch, double* v, double* a, char* code)
{
    record("TMI_MoniDataQ", h, num(ch));
    if (envInt("TMI_FAKE_MONI_FAIL", 0))
        return -1;
    const char* volts = std::getenv("TMI_FAKE_MONI_VOLTS");
    *v = volts && *volts ? std::strtod(volts, nullptr) : fakeMoniVolts(ch);
    *a = fakeMoniAmps(ch);
    *code = cvccCode(ch);
    return 0;
}

// The rest only record their arguments.
#define FAKE_SIMPLE(name, ...) FAKE_EXPORT int name(__VA_ARGS__)
FAKE_SIMPLE(TMI_HandleClose, int h)
{
    record("TMI_HandleClose", h);
    return 0;
}
FAKE_SIMPLE(TMI_TimeOut, int h, int t)
{
    record("TMI_TimeOut", h, t);
    return 0;
}
FAKE_SIMPLE(TMI_Refresh, int h)
{
    record("TMI_Refresh", h);
    return 0;
}
FAKE_SIMPLE(TMI_MainOutput, int h, unsigned char s)
{
    record("TMI_MainOutput", h, num(s));
    switchedOutput() = s;
    return 0;
}
FAKE_SIMPLE(TMI_Delay, int h, unsigned char s)
{
    record("TMI_Delay", h, num(s));
    return 0;
}
FAKE_SIMPLE(TMI_DelayQ, int h, unsigned char* s)
{
    record("TMI_DelayQ", h);
    *s = 0;
    return 0;
}
FAKE_SIMPLE(TMI_OutputSel, int h, unsigned char a, unsigned char b)
{
    record("TMI_OutputSel", h, num(a), num(b));
    return 0;
}
FAKE_SIMPLE(TMI_OutputSelQ, int h, unsigned char a, unsigned char* b)
{
    record("TMI_OutputSelQ", h, num(a));
    *b = 0;
    return 0;
}
FAKE_SIMPLE(TMI_TrackingOnOff, int h, unsigned char s)
{
    record("TMI_TrackingOnOff", h, num(s));
    return 0;
}
FAKE_SIMPLE(TMI_TrackingOnOffQ, int h, unsigned char* s)
{
    record("TMI_TrackingOnOffQ", h);
    *s = 0;
    return 0;
}
FAKE_SIMPLE(TMI_TrackingMode, int h, unsigned char s)
{
    record("TMI_TrackingMode", h, num(s));
    return 0;
}
FAKE_SIMPLE(TMI_TrackingModeQ, int h, unsigned char* s)
{
    record("TMI_TrackingModeQ", h);
    *s = 0;
    return 0;
}
FAKE_SIMPLE(TMI_TrackingGroup, int h, unsigned char a, unsigned char b)
{
    record("TMI_TrackingGroup", h, num(a), num(b));
    return 0;
}
FAKE_SIMPLE(TMI_TrackingGroupQ, int h, unsigned char a, unsigned char* b)
{
    record("TMI_TrackingGroupQ", h, num(a));
    *b = 0;
    return 0;
}
FAKE_SIMPLE(TMI_TrackingData, int h, unsigned char a, unsigned char b, double d)
{
    record("TMI_TrackingData", h, num(a), num(b), d);
    return 0;
}
FAKE_SIMPLE(TMI_TrackingDataQ, int h, unsigned char a, unsigned char b, double* d)
{
    record("TMI_TrackingDataQ", h, num(a), num(b));
    *d = 0;
    return 0;
}
FAKE_SIMPLE(TMI_DelayTime, int h, unsigned char a, double d)
{
    record("TMI_DelayTime", h, num(a), d);
    return 0;
}
FAKE_SIMPLE(TMI_DelayTimeQ, int h, unsigned char a, double* d)
{
    record("TMI_DelayTimeQ", h, num(a));
    *d = 0;
    return 0;
}
FAKE_SIMPLE(TMI_Display, int h, unsigned char s)
{
    record("TMI_Display", h, num(s));
    return 0;
}
FAKE_SIMPLE(TMI_DisplayQ, int h, unsigned char* s)
{
    record("TMI_DisplayQ", h);
    *s = 0;
    return 0;
}
FAKE_SIMPLE(TMI_Preset, int h, unsigned char p)
{
    record("TMI_Preset", h, num(p));
    return 0;
}
FAKE_SIMPLE(TMI_AdrQ, int h, unsigned char* a)
{
    record("TMI_AdrQ", h);
    *a = 0;
    return 0;
}
FAKE_SIMPLE(TMI_RemoteLocal, int h)
{
    record("TMI_RemoteLocal", h);
    return 0;
}
FAKE_SIMPLE(TMI_LocalLockOut, int h)
{
    record("TMI_LocalLockOut", h);
    return 0;
}
FAKE_SIMPLE(TMI_DataBackUp, int h)
{
    record("TMI_DataBackUp", h);
    return 0;
}
FAKE_SIMPLE(TMI_SRQEnable, int h, unsigned char s)
{
    record("TMI_SRQEnable", h, num(s));
    return 0;
}
FAKE_SIMPLE(TMI_AllPresetQ, int h, double* d)
{
    record("TMI_AllPresetQ", h);
    *d = 0;
    return 0;
}
FAKE_SIMPLE(TMI_AllPresetQS, int h, char* s)
{
    record("TMI_AllPresetQS", h);
    *s = 0;
    return 0;
}
FAKE_SIMPLE(TMI_Out, int h, char* s)
{
    record("TMI_Out", h, s ? s : "(null)");
    return 0;
}
FAKE_SIMPLE(TMI_In, int h, char* s)
{
    record("TMI_In", h);
    *s = 0;
    return 0;
}
#undef FAKE_SIMPLE

#define FAKE_CHECK_PROTOTYPE(name, params) \
    static_assert(std::is_same_v<decltype(&name), int(*) params>, #name " has the wrong prototype");
TMI_API_FUNCTIONS(FAKE_CHECK_PROTOTYPE)
#undef FAKE_CHECK_PROTOTYPE
