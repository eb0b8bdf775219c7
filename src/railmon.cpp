// railmon: controls and monitors a four-output bench supply through the
// vendor's control library, loaded at run time.
#include "railmon.h"
#include "railmon-ctrl.h"

#include "device_lock.h"
#include "library_text.h"
#include "log_file.h"
#include "metrics_export.h"
#include "panel_marks.h"
#include "protection.h"
#include "remote_control.h"
#include "status_line.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

// ============================================================================
// Driver layer: loading and binding the vendor library, the connection
// ============================================================================

HINSTANCE TMI_APIDll = nullptr;
int TMI_DeviceId = 0;

#define TMI_DEFINE_ENTRY(name, params) int(*name) params = nullptr;
TMI_API_FUNCTIONS(TMI_DEFINE_ENTRY)
#undef TMI_DEFINE_ENTRY

namespace {

// How the driver layer reaches each entry of the table by its position in
// the library's declaration order.
struct EntryPoint {
    const char* name;
    void (*store)(FARPROC address);
    bool (*bound)();
    void (*clear)();
};

// The FARPROC is cast through a plain function-pointer type, which every
// compiler accepts between function pointers without a warning.
#define TMI_ENTRY_ROW(name, params)                                                                               \
    EntryPoint{#name, [](FARPROC p) { name = reinterpret_cast<int(*) params>(reinterpret_cast<void (*)()>(p)); }, \
               [] { return name != nullptr; }, [] { name = nullptr; }},
const EntryPoint kEntryPoints[] = {TMI_API_FUNCTIONS(TMI_ENTRY_ROW)};
#undef TMI_ENTRY_ROW
static_assert(std::size(kEntryPoints) == TMI_API_FUNCTION_COUNT);

constexpr bool sameName(const char* a, const char* b)
{
    while (*a && *a == *b)
        ++a, ++b;
    return *a == *b;
}

constexpr const char* kDeclaredNames[] = {
#define TMI_ENTRY_NAME(name, params) #name,
    TMI_API_FUNCTIONS(TMI_ENTRY_NAME)
#undef TMI_ENTRY_NAME
};

// The order in which TMI_Open resolves the entries, as declaration-order
// indexes: the declaration order, but TMI_HandleClose last. A library that
// lacks any other name therefore leaves TMI_HandleClose unbound, so an
// incomplete binding always shows in the first two entries, where TMI_Test
// looks first.
constexpr std::array<int, TMI_API_FUNCTION_COUNT> bindingOrder()
{
    std::array<int, TMI_API_FUNCTION_COUNT> order{};
    int next = 0, last = -1;
    for (int i = 0; i < TMI_API_FUNCTION_COUNT; ++i) {
        if (sameName(kDeclaredNames[i], "TMI_HandleClose"))
            last = i;
        else
            order[next++] = i;
    }
    order[next] = last;
    return order;
}
constexpr std::array<int, TMI_API_FUNCTION_COUNT> kBindingOrder = bindingOrder();
static_assert(kBindingOrder[0] == 0 && kBindingOrder[TMI_API_FUNCTION_COUNT - 1] == 1,
              "TMI_HandleOpen binds first and TMI_HandleClose, declared second, last");

// The library promises a model name that fits 255 chars, terminator included;
// the buffer has room for far more, so a library that breaks that promise
// does not write over the stack.
constexpr int kModelNameRoom = 4096;

// Looks one entry up in the loaded library.
void bind(const EntryPoint& entry)
{
    entry.store(GetProcAddress(TMI_APIDll, entry.name));
}

const EntryPoint& entryNamed(const char* name)
{
    for (const EntryPoint& entry : kEntryPoints)
        if (std::strcmp(entry.name, name) == 0)
            return entry;
    std::abort(); // only called with names from the list
}

} // namespace

int TMI_Initialize(void)
{
    for (const EntryPoint& entry : kEntryPoints)
        entry.clear();
    return 0;
}

int TMI_Open(void)
{
    TMI_Initialize();
    printf("FALSE =%d TRUE=%d\n", FALSE, TRUE);
    TMI_APIDll = LoadLibraryA("TMI_API.dll");
    gSupply = {};
    // The pop-up only says that the supply cannot be used; the operator
    // setting up a bench also needs to know which file was refused and why
    // (wrong architecture, no library, a missing export).
    if (!TMI_APIDll) {
        const std::string why = printableText(LastLoadErrorText());
        gSupply.problem = "cannot load TMI_API.dll: " + why;
        fprintf(stderr, "Cannot load TMI_API.dll: %s\n", why.c_str());
        return FALSE;
    }
    char path[4096];
    gSupply.library = GetModuleFileNameA(TMI_APIDll, path, sizeof path) > 0 ? printableText(path) : "TMI_API.dll";
    // The simulated supply is the one that says so; where a library lies
    // says nothing (a vendor's copied beside railmon is still the vendor's).
    gSupply.simulated = GetProcAddress(TMI_APIDll, TMI_SIMULATED_SUPPLY_MARK) != nullptr;
    for (int index : kBindingOrder) {
        const EntryPoint& entry = kEntryPoints[index];
        bind(entry);
        if (!entry.bound()) {
            gSupply.problem = gSupply.library + " lacks " + entry.name;
            fprintf(stderr, "%s cannot be used: it exports no %s\n", gSupply.library.c_str(), entry.name);
            return FALSE;
        }
    }
    printf("TMI_In loaded.\n");
    return TRUE;
}

int TMI_OpenHandle(char* dev, char* usb)
{
    // Without a bound TMI_HandleOpen this yields a negative handle, which
    // start-up reports as "Not Connected". A program that is stopping opens
    // nothing, so it has nothing to close.
    const int handle = TMI_Invoke(TMI_HandleOpen, dev, usb);
    TMI_DeviceId = handle == TMI_STOPPING ? 0 : handle;
    return TMI_DeviceId;
}

int TMI_Test(void)
{
    for (const EntryPoint& entry : kEntryPoints) {
        if (!entry.bound())
            return FALSE;
    }
    // Cleared so that a query which writes nothing prints an empty name, not
    // whatever the stack held; terminated whatever the library wrote.
    static char modelName[kModelNameRoom];
    std::memset(modelName, 0, sizeof modelName);
    TMI_Invoke(TMI_ModelNameQ, TMI_DeviceId, modelName);
    modelName[kModelNameRoom - 1] = '\0';
    // What the library wrote, shown as text and never as commands to the
    // terminal, the title bar or the export.
    gSupply.model = printableText(modelName);
    printf("TMI_ModelNameQ %s\n", gSupply.model.c_str());
    return TRUE;
}

int TMI_Close(void)
{
    if (!TMI_APIDll)
        return 0;
    if (TMI_DeviceId != 0) {
        // A binding that stopped early leaves these two unbound although the
        // connection is open: look them up now, so the supply is handed back
        // whenever the library has them. Made even while stopping.
        for (const char* name : {"TMI_RemoteLocal", "TMI_HandleClose"}) {
            const EntryPoint& entry = entryNamed(name);
            if (!entry.bound())
                bind(entry);
        }
        TMI_Call(TMI_RemoteLocal, TMI_DeviceId);
        TMI_Call(TMI_HandleClose, TMI_DeviceId);
        TMI_DeviceId = 0;
    }
    FreeLibrary(TMI_APIDll);
    return 0;
}

// ============================================================================
// Driver layer: monitor readings
// ============================================================================

bool TMI_NoReading(const TMI_MonitorReading& reading)
{
    return std::isnan(reading.voltage) && std::isnan(reading.current);
}

TMI_MonitorReading TMI_MonitorSweep(int ch)
{
    TMI_MonitorReading reading;
    TMI_Invoke(TMI_TimeOut, TMI_DeviceId, 1);
    TMI_Invoke(TMI_Refresh, TMI_DeviceId);
    TMI_Invoke(TMI_MoniDataQ, TMI_DeviceId, static_cast<char>(ch + 1), &reading.voltage, &reading.current,
               &reading.cv_cc);
    return reading;
}

void TMI_ReadCurrent(double* I, double* V, unsigned char* mode, unsigned char* onoff)
{
    (void)mode;
    (void)onoff;
    TMI_Invoke(TMI_TimeOut, TMI_DeviceId, 1);
    TMI_Invoke(TMI_Refresh, TMI_DeviceId);
    for (int ch = 0; ch < CHANNELS; ++ch) {
        TMI_MonitorReading reading;
        TMI_Invoke(TMI_MoniDataQ, TMI_DeviceId, static_cast<char>(ch + 1), &reading.voltage, &reading.current,
                   &reading.cv_cc);
        I[ch] = reading.current;
        V[ch] = reading.voltage;
    }
}

// ============================================================================
// Panel, start-up and shutdown
// ============================================================================

int pnl = 0;

const int vmon[CHANNELS] = {PANEL_VMON1, PANEL_VMON2, PANEL_VMON3, PANEL_VMON4};
const int imon[CHANNELS] = {PANEL_IMON1, PANEL_IMON2, PANEL_IMON3, PANEL_IMON4};
const int vset[CHANNELS] = {PANEL_VSET1, PANEL_VSET2, PANEL_VSET3, PANEL_VSET4};
const int iset[CHANNELS] = {PANEL_ISET1, PANEL_ISET2, PANEL_ISET3, PANEL_ISET4};
const int radiob[CHANNELS] = {PANEL_ENABLE1, PANEL_ENABLE2, PANEL_ENABLE3, PANEL_ENABLE4};
const int cvcc[CHANNELS] = {PANEL_CVCC1, PANEL_CVCC2, PANEL_CVCC3, PANEL_CVCC4};

int gMask = 15;
int gLogToFile = 0;

namespace {

void setMaskBit(int ch, int ison)
{
    if (ison)
        gMask |= 1 << ch;
    else
        gMask &= ~(1 << ch);
}

// Each channel's reading as last shown, for a script's FETCh?.
TMI_MonitorReading gLatest[CHANNELS];
// The main output state the supply last reported, shown again when the
// switch refuses a click.
unsigned char gReportedOutput = NO_OUTPUT_STATE;

// Shows a reading on its channel's three indicators.
void showReading(int panel, int ch, const TMI_MonitorReading& reading)
{
    gLatest[ch] = reading;
    SetCtrlVal(panel, vmon[ch], reading.voltage);
    SetCtrlVal(panel, imon[ch], reading.current);
    // A code that came with no numbers is not a code the supply reported.
    if (TMI_NoReading(reading))
        SetCtrlVal(panel, cvcc[ch], std::nan(""));
    else
        SetCtrlVal(panel, cvcc[ch], static_cast<int>(static_cast<signed char>(reading.cv_cc)));
    exportReading(ch, reading);
}

} // namespace

const TMI_MonitorReading& RailmonLatestReading(int ch)
{
    return gLatest[ch];
}

int main(int argc, char* argv[])
{
    int DeviceId = 0;
    // A query that cannot be made leaves these as they start: "no state" for
    // the main output and the preset, "no value" (NaN) for the setpoints,
    // never whatever the stack held.
    unsigned char MainOutput = NO_OUTPUT_STATE;
    unsigned char preset = NO_PRESET;
    double Voltage = std::nan("");
    double Current = std::nan("");
    double tinterval = 0.0;
    int ison = 0;
    char dev[] = "PW-A";
    char usb[] = "USB:1:1";

    RemoteOptions remote;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            printf("%s", RemoteUsage());
            return 0;
        }
        std::string problem;
        if (!RemoteParseOption(argv[i], remote, problem)) {
            fprintf(stderr, "railmon: %s\n", problem.c_str());
            return 2;
        }
    }

    if (InitCVIRTEEx(0, argv, 0) == 0)
        return -1;
    SetStdioPort(0);
    pnl = LoadPanel(0, "railmon-ctrl.uir", PANEL);
    if (pnl < 0)
        return -1;
    // While railmon waits for a slow supply the operator can still leave,
    // and switch the outputs off; everything else waits its turn.
    SetCtrlAttribute(pnl, PANEL_EXIT, ATTR_WHILE_WAITING, VAL_WHILE_WAITING_QUITS);
    SetCtrlAttribute(pnl, PANEL_MAINOUTPUT, ATTR_WHILE_WAITING, VAL_WHILE_WAITING_OFF);

    // Before anything reaches the supply.
    const DeviceLock lock = lockDevice(usb);
    if (lock.state == DeviceLock::InUse) {
        const std::string message = "railmon (" + lock.holder + ") is already connected to the supply at " + usb +
            ".\nOne supply takes commands from one railmon at a time.";
        printf("%s\n", message.c_str());
        MessagePopup("Supply in use", message.c_str());
        DiscardPanel(pnl);
        return -1;
    }
    if (lock.state == DeviceLock::Unguarded) {
        const std::string message = "railmon cannot make sure that no other railmon drives the supply at " +
            std::string(usb) + ": " + lock.problem + ".\nIt goes on unguarded: start no second railmon for it.";
        printf("%s\n", message.c_str());
        MessagePopup("Supply not guarded", message.c_str());
    }

    if (TMI_Open() == 0)
        MessagePopup("Error", "Cannot open USB device");
    DeviceId = TMI_OpenHandle(dev, usb);
    if (TMI_Test() == 0)
        MessagePopup("DLL error", "Dll Error");
    if (DeviceId < 0)
        MessagePopup("Error", "Not Connected");
    printf("TMI device ID %d\n", TMI_DeviceId);
    if (gSupply.simulated)
        printf("No TMI_API.dll installed: using the simulated supply %s\n", gSupply.library.c_str());
    showSupplyStatus(DeviceId, usb, lock.problem);
    showStatus(PANEL_STATUS_READINGS, "No readings yet", VAL_DEFAULT_COLOR);
    showLogStatus();

    TMI_Invoke(TMI_MainOutputQ, TMI_DeviceId, &MainOutput);
    gReportedOutput = MainOutput;
    showMainOutput(pnl, PANEL_MAINOUTPUT, MainOutput, -1);
    exportMainOutput(MainOutput == NO_OUTPUT_STATE ? -1 : MainOutput);

    // The pace comes from the interval control, not from the supply.
    GetCtrlVal(pnl, PANEL_INTERVAL, &tinterval);
    SetCtrlAttribute(pnl, PANEL_TIMER, ATTR_INTERVAL, tinterval);

    TMI_Invoke(TMI_PresetQ, TMI_DeviceId, &preset);
    preset = showActivePreset(preset);

    for (int trace = 1; trace <= CHANNELS; ++trace)
        SetTraceAttributeEx(pnl, PANEL_ICHART, trace, ATTR_TRACE_LG_TEXT, kChannelLabels[trace - 1]);
    for (int trace = 1; trace <= CHANNELS; ++trace)
        SetTraceAttributeEx(pnl, PANEL_VCHART, trace, ATTR_TRACE_LG_TEXT, kChannelLabels[trace - 1]);

    // All four channels, enabled or not, so the panel opens showing the
    // whole active preset.
    for (unsigned char ch = 0; ch < CHANNELS; ++ch) {
        Voltage = std::nan("");
        Current = std::nan("");
        TMI_Invoke(TMI_VoltageQ, TMI_DeviceId, static_cast<unsigned char>(ch + 1), preset, &Voltage);
        TMI_Invoke(TMI_CurrentQ, TMI_DeviceId, static_cast<unsigned char>(ch + 1), preset, &Current);
        showQueriedSetpoint(pnl, vset[ch], Voltage);
        showQueriedSetpoint(pnl, iset[ch], Current);
        exportSetpoints(ch, Voltage, Current);
        GetCtrlVal(pnl, radiob[ch], &ison);
        setMaskBit(ch, ison);
    }
    ProtectionSetUp(pnl);
    MetricsOpen();
    RemoteSetUp(pnl, remote);

    DisplayPanel(pnl);
    RunUserInterface();

    // Scripts are cut off before the supply is handed back below.
    RemoteShutDown();
    DiscardPanel(pnl);
    TMI_Close();
    LogClose();
    MetricsClose();
    return 0;
}

int CVICALLBACK ExitCB(int, int, int event, void*, int, int)
{
    if (event == EVENT_COMMIT)
        QuitUserInterface(0);
    return 0;
}

int CVICALLBACK ReadCB(int panel, int, int event, void*, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    int swept = 0, delivered = 0;
    for (int ch = 0; ch < CHANNELS; ++ch) {
        if (!(gMask & (1 << ch)))
            continue;
        const TMI_MonitorReading reading = RailmonReadChannel(panel, ch);
        ++swept;
        delivered += !TMI_NoReading(reading);
    }
    showReadingsStatus(swept, delivered, false);
    ProtectionShowState();
    exportChanged();
    return 0;
}

int CVICALLBACK TimerCB(int panel, int, int event, void*, int, int)
{
    if (event != EVENT_TIMER_TICK)
        return 0;
    // A disabled channel's trace gets NaN, which the chart draws as a gap.
    double current[CHANNELS], voltage[CHANNELS];
    int swept = 0, delivered = 0;
    noteTick();
    for (int ch = 0; ch < CHANNELS; ++ch) {
        current[ch] = voltage[ch] = std::nan("");
        if (!(gMask & (1 << ch)))
            continue;
        const TMI_MonitorReading reading = TMI_MonitorSweep(ch);
        voltage[ch] = reading.voltage;
        current[ch] = reading.current;
        // Before anything else: a trip's off call is the next call, and
        // showing the reading waits for it.
        ProtectionCheck(panel, ch, reading);
        showReading(panel, ch, reading);
        ++swept;
        delivered += !TMI_NoReading(reading);
        if (gLogToFile)
            LogWrite(ch, reading);
    }
    // The whole tick at once, so a kill, a full disk or a crash loses no
    // finished tick and leaves no part of one.
    LogFinishTick();
    PlotStripChart(panel, PANEL_ICHART, current, CHANNELS, 0, 0, VAL_DOUBLE);
    PlotStripChart(panel, PANEL_VCHART, voltage, CHANNELS, 0, 0, VAL_DOUBLE);
    showReadingsStatus(swept, delivered, true);
    ProtectionShowState();
    exportTick();
    exportChanged();
    return 0;
}

int CVICALLBACK TimerOnOffCB(int panel, int control, int event, void*, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    int state = 0;
    GetCtrlVal(panel, control, &state);
    if (state) {
        restartPace();
        ResumeTimerCallbacks();
    } else {
        SuspendTimerCallbacks();
        printf("Disabling timer....\n");
    }
    ProtectionShowState();
    return 0;
}

int CVICALLBACK SetIntervalCB(int panel, int control, int event, void*, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    double tinterval = 0.0;
    GetCtrlVal(panel, control, &tinterval);
    SetCtrlAttribute(panel, PANEL_TIMER, ATTR_INTERVAL, tinterval);
    restartPace();
    return 0;
}

int CVICALLBACK LogToFileCB(int panel, int control, int event, void*, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    GetCtrlVal(panel, control, &gLogToFile);
    if (gLogToFile)
        LogSwitchedOn();
    showLogStatus();
    return 0;
}

TMI_MonitorReading RailmonReadChannel(int panel, int ch)
{
    const TMI_MonitorReading reading = TMI_MonitorSweep(ch);
    ProtectionCheck(panel, ch, reading);
    showReading(panel, ch, reading);
    return reading;
}

unsigned char RailmonActivePreset()
{
    unsigned char preset = NO_PRESET;
    TMI_Invoke(TMI_PresetQ, TMI_DeviceId, &preset);
    return showActivePreset(preset);
}

void RailmonWriteSetpoints(int ch, unsigned char preset, double voltage, double current, double* heldVoltage,
                           double* heldCurrent)
{
    const unsigned char number = static_cast<unsigned char>(ch + 1);
    *heldVoltage = *heldCurrent = std::nan("");
    // A control with no value holds a setpoint the supply never gave and
    // the operator never entered: nothing to write. Its query is still
    // made, and may give the control a value at last.
    if (!std::isnan(voltage))
        TMI_Invoke(TMI_Voltage, TMI_DeviceId, number, preset, voltage);
    TMI_Invoke(TMI_VoltageQ, TMI_DeviceId, number, preset, heldVoltage);
    if (!std::isnan(current))
        TMI_Invoke(TMI_Current, TMI_DeviceId, number, preset, current);
    TMI_Invoke(TMI_CurrentQ, TMI_DeviceId, number, preset, heldCurrent);
}

void RailmonSetChannel(int panel, int ch, unsigned char preset)
{
    double Voltage = 0.0, Current = 0.0;
    double heldVoltage = std::nan(""), heldCurrent = std::nan("");
    GetCtrlVal(panel, vset[ch], &Voltage);
    GetCtrlVal(panel, iset[ch], &Current);
    RailmonWriteSetpoints(ch, preset, Voltage, Current, &heldVoltage, &heldCurrent);
    showSetpointAgreement(panel, vset[ch], Voltage, heldVoltage, "V");
    showSetpointAgreement(panel, iset[ch], Current, heldCurrent, "A");
    exportSetpoints(ch, heldVoltage, heldCurrent);
    markReadingsStale(pnl, ch);
}

int CVICALLBACK SetCB(int panel, int, int event, void*, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    const unsigned char preset = RailmonActivePreset();
    for (int ch = 0; ch < CHANNELS; ++ch) {
        if (!(gMask & (1 << ch)))
            continue;
        RailmonSetChannel(panel, ch, preset);
        // Typed and Set here: no longer what a script set.
        noteRemoteChange(panel, vset[ch], {});
        noteRemoteChange(panel, iset[ch], {});
    }
    exportChanged();
    return 0;
}

int CVICALLBACK SetPresetCB(int panel, int control, int event, void*, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    unsigned char preset = 0;
    int ison = 0;
    GetCtrlVal(panel, control, &preset);
    TMI_Invoke(TMI_Preset, TMI_DeviceId, preset);
    for (unsigned char ch = 0; ch < CHANNELS; ++ch) {
        // A query that writes nothing leaves NaN: the control then holds no
        // value and is marked, rather than showing a setpoint the supply
        // never gave for this preset.
        double Voltage = std::nan(""), Current = std::nan("");
        TMI_Invoke(TMI_VoltageQ, TMI_DeviceId, static_cast<unsigned char>(ch + 1), preset, &Voltage);
        TMI_Invoke(TMI_CurrentQ, TMI_DeviceId, static_cast<unsigned char>(ch + 1), preset, &Current);
        showQueriedSetpoint(pnl, vset[ch], Voltage);
        showQueriedSetpoint(pnl, iset[ch], Current);
        exportSetpoints(ch, Voltage, Current);
        GetCtrlVal(pnl, radiob[ch], &ison);
        setMaskBit(ch, ison);
        // The preset's, no longer what a script set (a script's recall
        // says so again after this).
        noteRemoteChange(pnl, vset[ch], {});
        noteRemoteChange(pnl, iset[ch], {});
    }
    noteRemoteChange(panel, control, {});
    // The outputs now follow another preset.
    markAllReadingsStale(pnl);
    exportChanged();
    return 0;
}

namespace {

// The main output's state read back after switching it to `state`, and
// shown. `evenStopping`: as the switching.
void readBackMainOutput(int panel, int control, unsigned char state, bool evenStopping)
{
    // What the switch shows is what the supply then reports, not the click.
    unsigned char reported = NO_OUTPUT_STATE;
    if (evenStopping)
        TMI_Call(TMI_MainOutputQ, TMI_DeviceId, &reported);
    else
        TMI_Invoke(TMI_MainOutputQ, TMI_DeviceId, &reported);
    gReportedOutput = reported;
    showMainOutput(panel, control, reported, state);
    exportMainOutput(reported == NO_OUTPUT_STATE ? -1 : reported);
    markAllReadingsStale(panel);
    exportChanged();
}

// The main output switched to what the switch shows, read back and shown.
// `evenStopping`: a switch-off the operator asked for while railmon waited
// is made even when a stop came too.
void switchMainOutput(int panel, int control, bool evenStopping)
{
    unsigned char state = 0;
    GetCtrlVal(panel, control, &state);
    if (evenStopping)
        TMI_Call(TMI_MainOutput, TMI_DeviceId, state);
    else
        TMI_Invoke(TMI_MainOutput, TMI_DeviceId, state);
    readBackMainOutput(panel, control, state, evenStopping);
}

} // namespace

void RailmonSwitchMainOutput(int panel)
{
    switchMainOutput(panel, PANEL_MAINOUTPUT, false);
}

void RailmonSwitchMainOutputOff(int panel)
{
    // The call first, the panel after: nothing that only shows it delays it.
    const unsigned char off = 0;
    TMI_Call(TMI_MainOutput, TMI_DeviceId, off);
    SetCtrlVal(panel, PANEL_MAINOUTPUT, off);
    readBackMainOutput(panel, PANEL_MAINOUTPUT, off, true);
}

unsigned char RailmonReportedOutput()
{
    return gReportedOutput;
}

void TMI_HonourWaitingRequests(void)
{
    int panel = 0, control = 0;
    // Only a switch-off is ever kept (VAL_WHILE_WAITING_OFF), so it is made
    // as one: by the time it is taken the switch may show another state (a
    // read-back after a trip), which is no request of the operator's.
    while (TakeWaitingCommit(&panel, &control))
        if (control == PANEL_MAINOUTPUT)
            RailmonSwitchMainOutputOff(panel);
}

int CVICALLBACK SwitchOnOffCB(int panel, int control, int event, void*, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    int on = 0;
    GetCtrlVal(panel, control, &on);
    // Latched off: the click changes nothing at the supply; the switch
    // shows why, and the operator may clear the trip, which still leaves
    // the outputs off.
    if (on && !ProtectionRefusesOn().empty()) {
        showMainOutput(panel, control, gReportedOutput, -1);
        ProtectionConfirmClear();
        return 0;
    }
    switchMainOutput(panel, control, false);
    noteRemoteChange(panel, control, {});
    return 0;
}

int CVICALLBACK SetMaskCB(int panel, int control, int event, void*, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    int ison = 0;
    GetCtrlVal(panel, control, &ison);
    for (int ch = 0; ch < CHANNELS; ++ch) {
        if (control == radiob[ch]) {
            setMaskBit(ch, ison);
            // Not read any more: what it shows stops being current.
            if (!ison)
                markReadingsStale(panel, ch);
            noteRemoteChange(panel, control, {});
            break;
        }
    }
    ProtectionShowState();
    exportChanged();
    return 0;
}

// ============================================================================
// The callbacks the panel file may name
// ============================================================================

// Each name bound to the callback of that name, and every named
// control, for the runtime to check the panel file against.
RAILMON_UI_TABLES(name)
