// railmon's globals and functions: the vendor library's handle and
// entry-point table, the driver layer over it, and the panel's callbacks.
#pragma once

#include "dynload.h"
#include "railmon-ctrl.h"
#include "tmi_api.h"
#include "userint.h"

#include <cstdio>
#include <limits>

// ---- The vendor library -----------------------------------------------------

// Handle of the loaded TMI_API.dll; null until TMI_Open has loaded it.
extern HINSTANCE TMI_APIDll;

// The entry-point table: one pointer per exported function, named as the
// function it holds. Null means unbound.
#define TMI_DECLARE_ENTRY(name, params) extern int(*name) params;
TMI_API_FUNCTIONS(TMI_DECLARE_ENTRY)
#undef TMI_DECLARE_ENTRY

// Device handle: 0 while no connection is open, negative after a failed open.
extern int TMI_DeviceId;

// What a call yields instead of being made: through an unbound entry, or
// while the program is stopping.
enum { TMI_UNBOUND = -1000, TMI_STOPPING = -1001 };

// Calls an entry, or yields TMI_UNBOUND without calling when it is null: a
// library that failed to bind leaves entries null, and no caller may then
// jump through one. The call is made through the runtime, which keeps the
// panel alive while it waits and names `waitingFor` when it waits long.
template <typename... Params, typename... Args>
int TMI_CallEntry(const char* waitingFor, int (*entry)(Params...), Args... args)
{
    if (!entry)
        return TMI_UNBOUND;
    auto call = [&] { return entry(args...); };
    return CallInstrument(
        waitingFor, [](void* context) { return (*static_cast<decltype(call)*>(context))(); }, &call);
}
#define TMI_Call(entry, ...) TMI_CallEntry("the supply: " #entry, entry, __VA_ARGS__)

// What the operator asked for while railmon waited for the supply, honoured
// before the next call: a main output switched off is switched off first.
void TMI_HonourWaitingRequests(void);

// As TMI_Call, but once the process has been asked to stop it yields
// TMI_STOPPING instead: with slow calls (a USB round trip can take seconds)
// a stop then costs at most the call under way, not a whole tick or start-up.
// Only handing the supply back at close goes on regardless (TMI_Call).
template <typename... Params, typename... Args>
int TMI_InvokeEntry(const char* waitingFor, int (*entry)(Params...), Args... args)
{
    TMI_HonourWaitingRequests();
    if (StopRequested())
        return TMI_STOPPING;
    return TMI_CallEntry(waitingFor, entry, args...);
}
#define TMI_Invoke(entry, ...) TMI_InvokeEntry("the supply: " #entry, entry, __VA_ARGS__)

// ---- Driver layer ----------------------------------------------------------

int TMI_Initialize(void);
int TMI_Open(void);
int TMI_OpenHandle(char* dev, char* usb);
int TMI_Test(void);
int TMI_Close(void);

// The CV/CC code a reading holds before the supply writes one. Any char is a
// code a supply may report, so this one alone says nothing: see
// TMI_NoReading.
enum { CVCC_BEFORE_READING = -128 };

// The measured voltage [V], current [A] and CV/CC code of one channel. It
// starts as NaN, NaN and CVCC_BEFORE_READING, which is what it still holds
// when the query fails without writing its outputs.
struct TMI_MonitorReading {
    double voltage = std::numeric_limits<double>::quiet_NaN();
    double current = std::numeric_limits<double>::quiet_NaN();
    char cv_cc = static_cast<char>(CVCC_BEFORE_READING);
};

// True when the supply delivered nothing for this reading: neither a voltage
// nor a current. Its code is then not a code the supply reported.
bool TMI_NoReading(const TMI_MonitorReading& reading);

// The monitor sweep of channel index `ch` (0..3): time-out, refresh and
// monitor query, for the channel number ch + 1.
TMI_MonitorReading TMI_MonitorSweep(int ch);
// Currents into I[0..3] and voltages into V[0..3], one refresh for all four
// channels; `mode` and `onoff` are neither read nor written.
void TMI_ReadCurrent(double* I, double* V, unsigned char* mode, unsigned char* onoff);

// ---- Panel -----------------------------------------------------------------

// Channel index 0..3 is channel number 1..4, named as railmon-ctrl.h names it.
enum { CHANNELS = 4 };
inline constexpr const char* kChannelLabels[CHANNELS] = {RAILMON_CHANNEL_NAMES};

extern int pnl;
extern const int vmon[CHANNELS];
extern const int imon[CHANNELS];
extern const int vset[CHANNELS];
extern const int iset[CHANNELS];
extern const int radiob[CHANNELS];
extern const int cvcc[CHANNELS];

// Bit i set: channel index i is read, logged and Set.
extern int gMask;
// Non-zero while the log-to-file switch is on.
extern int gLogToFile;
// The measurement log, null until the first logged reading opens it
// (log_file.h).
extern FILE* gFp;

// The panel's callbacks (railmon-ctrl.h names them).
#define RAILMON_CALLBACK(name, kind) \
    int CVICALLBACK name(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
RAILMON_PANEL_CALLBACKS(RAILMON_CALLBACK)
#undef RAILMON_CALLBACK

// ---- The panel's paths, which a script takes too (remote_control.h) ----------

// The active preset as the supply reports it, shown on the panel: the one
// to address setpoints with (0 when none was reported, as Set has it).
unsigned char RailmonActivePreset();
// Set's work for channel index `ch`: what its two setpoint controls hold
// written into `preset`, read back, shown and marked, exported.
void RailmonSetChannel(int panel, int ch, unsigned char preset);
// The library calls of that write for channel index `ch`: each setpoint
// that is a number written into `preset`, then both read back into
// `heldVoltage` [V] and `heldCurrent` [A] (NaN for no answer).
void RailmonWriteSetpoints(int ch, unsigned char preset, double voltage, double current, double* heldVoltage,
                           double* heldCurrent);
// Read's work for channel index `ch`: one monitor sweep, shown.
TMI_MonitorReading RailmonReadChannel(int panel, int ch);
// The reading last shown for channel index `ch` (Read, a tick, a script),
// or none before the first.
const TMI_MonitorReading& RailmonLatestReading(int ch);
// The main output switched to what its switch shows, read back and shown.
void RailmonSwitchMainOutput(int panel);
// The main output switched off now, even while stopping, read back and
// shown: the first library call made is TMI_MainOutput with the off state.
void RailmonSwitchMainOutputOff(int panel);
// The main output state the supply last reported (NO_OUTPUT_STATE: none).
unsigned char RailmonReportedOutput();
