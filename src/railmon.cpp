// railmon: controls and monitors a four-output bench supply through the
// vendor's control library, loaded at run time.
#include "railmon.h"
#include "railmon-ctrl.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

// ============================================================================
// Driver layer: loading and binding the vendor library, the connection
// ============================================================================

HINSTANCE TMI_APIDll = nullptr;
int TMI_DeviceId = 0;

#define TMI_DEFINE_ENTRY(name, bind, params) int(*name) params = nullptr;
TMI_ENTRY_POINTS(TMI_DEFINE_ENTRY)
#undef TMI_DEFINE_ENTRY

namespace {

// How the driver layer reaches each entry of the table by its list position.
struct EntryPoint {
    const char* name;
    void (*store)(FARPROC address);
    bool (*bound)();
    void (*clear)();
};

#define TMI_ENTRY_ROW(name, bind, params)                                        \
    EntryPoint{#name, [](FARPROC p) { name = reinterpret_cast<int(*) params>(p); }, \
               [] { return name != nullptr; }, [] { name = nullptr; }},
const EntryPoint kEntryPoints[] = {TMI_ENTRY_POINTS(TMI_ENTRY_ROW)};
#undef TMI_ENTRY_ROW

constexpr int kBindPositions[] = {
#define TMI_BIND_POSITION(name, bind, params) bind,
    TMI_ENTRY_POINTS(TMI_BIND_POSITION)
#undef TMI_BIND_POSITION
};
static_assert(std::size(kBindPositions) == TMI_ENTRY_POINT_COUNT);

// Declaration-order indexes, in the order TMI_Open resolves them.
constexpr std::array<int, TMI_ENTRY_POINT_COUNT> bindingOrder()
{
    std::array<int, TMI_ENTRY_POINT_COUNT> order{};
    order.fill(-1);
    for (int i = 0; i < TMI_ENTRY_POINT_COUNT; ++i)
        order[kBindPositions[i] - 1] = i;
    return order;
}
constexpr std::array<int, TMI_ENTRY_POINT_COUNT> kBindingOrder = bindingOrder();
static_assert([] {
    for (int index : kBindingOrder)
        if (index < 0)
            return false; // a bind position is missing or repeated
    return true;
}());

enum { FALSE = 0, TRUE = 1 };

// Room for the model name, terminator included.
constexpr int kModelNameSize = 255;

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
    if (!TMI_APIDll)
        return FALSE;
    for (int index : kBindingOrder) {
        const EntryPoint& entry = kEntryPoints[index];
        entry.store(GetProcAddress(TMI_APIDll, entry.name));
        if (!entry.bound())
            return FALSE;
    }
    printf("TMI_In loaded.\n");
    return TRUE;
}

int TMI_OpenHandle(char* dev, char* usb)
{
    // Without a bound TMI_HandleOpen this yields a negative handle, which
    // start-up reports as "Not Connected".
    TMI_DeviceId = TMI_Invoke(TMI_HandleOpen, dev, usb);
    return TMI_DeviceId;
}

int TMI_Test(void)
{
    for (const EntryPoint& entry : kEntryPoints) {
        if (!entry.bound())
            return FALSE;
    }
    // Cleared so that a query which writes nothing prints an empty name, not
    // whatever the stack held.
    char modelName[kModelNameSize] = {};
    TMI_ModelNameQ(TMI_DeviceId, modelName);
    modelName[kModelNameSize - 1] = '\0';
    printf("TMI_ModelNameQ %s\n", modelName);
    return TRUE;
}

int TMI_Close(void)
{
    if (!TMI_APIDll)
        return 0;
    if (TMI_DeviceId != 0) {
        // After a binding that stopped early either entry may be null.
        TMI_Invoke(TMI_RemoteLocal, TMI_DeviceId);
        TMI_Invoke(TMI_HandleClose, TMI_DeviceId);
        TMI_DeviceId = 0;
    }
    FreeLibrary(TMI_APIDll);
    return 0;
}

// ============================================================================
// Driver layer: monitor readings
// ============================================================================

namespace {
// What a reading holds until the supply writes one.
const TMI_MonitorReading kNoReading = {std::nan(""), std::nan(""), static_cast<char>(CVCC_NO_READING)};
} // namespace

TMI_MonitorReading TMI_MonitorSweep(int ch)
{
    TMI_MonitorReading reading = kNoReading;
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
        TMI_MonitorReading reading = kNoReading;
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

const int vmon[CHANNELS] = {24, 18, 13, 8};
const int imon[CHANNELS] = {23, 17, 12, 7};
const int vset[CHANNELS] = {16, 11, 6, 3};
const int iset[CHANNELS] = {19, 14, 9, 4};
const int radiob[CHANNELS] = {20, 15, 10, 5};
const int cvcc[CHANNELS] = {30, 29, 28, 27};

int gMask = 15;
int gLogToFile = 0;
FILE* gFp = nullptr;

namespace {

const char* const kChannelLabels[CHANNELS] = {"CH +18V", "CH -18V", "CH +6V", "CH -6V"};

void setMaskBit(int ch, int ison)
{
    if (ison)
        gMask |= 1 << ch;
    else
        gMask &= ~(1 << ch);
}

} // namespace

int main(int argc, char* argv[])
{
    (void)argc;
    int DeviceId = 0;
    // A query that cannot be made leaves these as they start: zeros, shown
    // as such, rather than whatever the stack held.
    unsigned char MainOutput = 0;
    unsigned char preset = 0;
    double Voltage = 0.0;
    double Current = 0.0;
    double tinterval = 0.0;
    int ison = 0;
    char dev[] = "PW-A";
    char usb[] = "USB:1:1";

    if (InitCVIRTEEx(0, argv, 0) == 0)
        return -1;
    SetStdioPort(0);
    pnl = LoadPanel(0, "railmon-ctrl.uir", PANEL);
    if (pnl < 0)
        return -1;

    if (TMI_Open() == 0)
        MessagePopup("Error", "Cannot open USB device");
    DeviceId = TMI_OpenHandle(dev, usb);
    if (TMI_Test() == 0)
        MessagePopup("DLL error", "Dll Error");
    if (DeviceId < 0)
        MessagePopup("Error", "Not Connected");
    printf("TMI device ID %d\n", TMI_DeviceId);

    TMI_Invoke(TMI_MainOutputQ, TMI_DeviceId, &MainOutput);
    SetCtrlVal(pnl, PANEL_MAINOUTPUT, static_cast<int>(MainOutput));

    // The pace comes from the interval control, not from the supply.
    GetCtrlVal(pnl, PANEL_INTERVAL, &tinterval);
    SetCtrlAttribute(pnl, PANEL_TIMER, ATTR_INTERVAL, tinterval);

    TMI_Invoke(TMI_PresetQ, TMI_DeviceId, &preset);
    SetCtrlVal(pnl, PANEL_PRESET, static_cast<int>(preset));

    for (int trace = 1; trace <= CHANNELS; ++trace)
        SetTraceAttributeEx(pnl, PANEL_ICHART, trace, ATTR_TRACE_LG_TEXT, kChannelLabels[trace - 1]);
    for (int trace = 1; trace <= CHANNELS; ++trace)
        SetTraceAttributeEx(pnl, PANEL_VCHART, trace, ATTR_TRACE_LG_TEXT, kChannelLabels[trace - 1]);

    // All four channels, enabled or not, so the panel opens showing the
    // whole active preset.
    for (unsigned char ch = 0; ch < CHANNELS; ++ch) {
        Voltage = 0.0;
        Current = 0.0;
        TMI_Invoke(TMI_VoltageQ, TMI_DeviceId, static_cast<unsigned char>(ch + 1), preset, &Voltage);
        TMI_Invoke(TMI_CurrentQ, TMI_DeviceId, static_cast<unsigned char>(ch + 1), preset, &Current);
        SetCtrlVal(pnl, vset[ch], Voltage);
        SetCtrlVal(pnl, iset[ch], Current);
        GetCtrlVal(pnl, radiob[ch], &ison);
        setMaskBit(ch, ison);
    }

    DisplayPanel(pnl);
    RunUserInterface();

    DiscardPanel(pnl);
    TMI_Close();
    if (gFp)
        fclose(gFp);
    return 0;
}

int CVICALLBACK ExitCB(int, int, int event, void*, int, int)
{
    if (event == EVENT_COMMIT)
        QuitUserInterface(0);
    return 0;
}

// ============================================================================
// Monitoring: manual read, periodic acquisition, measurement log
// ============================================================================

namespace {

const char kLogFileName[] = "railmon.log";

// True while opening or writing the log fails, so the operator is told once
// per streak of failures, not at every tick.
bool gLogFailing = false;

void reportLogFailure(const char* what)
{
    if (!gLogFailing)
        printf("%s %s: %s\n", what, kLogFileName, strerror(errno));
    gLogFailing = true;
}

void showReading(int panel, int ch, const TMI_MonitorReading& reading)
{
    SetCtrlVal(panel, vmon[ch], reading.voltage);
    SetCtrlVal(panel, imon[ch], reading.current);
    SetCtrlVal(panel, cvcc[ch], static_cast<int>(static_cast<signed char>(reading.cv_cc)));
}

// Appends one record, opening the file (emptied, with its header) at the
// first logged reading of the run. False when nothing could be written.
bool LogWrite(int ch, const TMI_MonitorReading& reading)
{
    if (!gFp) {
        gFp = fopen(kLogFileName, "w");
        if (!gFp) {
            // Tried again at the next logged reading.
            reportLogFailure("Cannot open");
            return false;
        }
        fprintf(gFp, "#time\tch\tU\tI\tCV_CC\n");
    }
    const unsigned long now = static_cast<unsigned long>(time(nullptr));
    fprintf(gFp, "%lu\t%d\t%g\t%g\t%d\n", now, ch + 1, reading.voltage, reading.current,
            static_cast<int>(static_cast<signed char>(reading.cv_cc)));
    return true;
}

} // namespace

int CVICALLBACK ReadCB(int panel, int, int event, void*, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    for (int ch = 0; ch < CHANNELS; ++ch) {
        if (!(gMask & (1 << ch)))
            continue;
        showReading(panel, ch, TMI_MonitorSweep(ch));
    }
    return 0;
}

int CVICALLBACK TimerCB(int panel, int, int event, void*, int, int)
{
    if (event != EVENT_TIMER_TICK)
        return 0;
    // A disabled channel's trace gets NaN, which the chart draws as a gap.
    double current[CHANNELS], voltage[CHANNELS];
    bool logged = false;
    for (int ch = 0; ch < CHANNELS; ++ch) {
        current[ch] = voltage[ch] = std::nan("");
        if (!(gMask & (1 << ch)))
            continue;
        const TMI_MonitorReading reading = TMI_MonitorSweep(ch);
        voltage[ch] = reading.voltage;
        current[ch] = reading.current;
        showReading(panel, ch, reading);
        if (gLogToFile)
            logged = LogWrite(ch, reading) || logged;
    }
    // Once per tick, so a crash or a power cut loses no finished tick.
    if (logged) {
        if (fflush(gFp) != 0)
            reportLogFailure("Cannot write");
        else
            gLogFailing = false;
    }
    PlotStripChart(panel, PANEL_ICHART, current, CHANNELS, 0, 0, VAL_DOUBLE);
    PlotStripChart(panel, PANEL_VCHART, voltage, CHANNELS, 0, 0, VAL_DOUBLE);
    return 0;
}

int CVICALLBACK TimerOnOffCB(int panel, int control, int event, void*, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    int state = 0;
    GetCtrlVal(panel, control, &state);
    if (state) {
        ResumeTimerCallbacks();
    } else {
        SuspendTimerCallbacks();
        printf("Disabling timer....\n");
    }
    return 0;
}

int CVICALLBACK SetIntervalCB(int panel, int control, int event, void*, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    double tinterval = 0.0;
    GetCtrlVal(panel, control, &tinterval);
    SetCtrlAttribute(panel, PANEL_TIMER, ATTR_INTERVAL, tinterval);
    return 0;
}

int CVICALLBACK LogToFileCB(int panel, int control, int event, void*, int, int)
{
    if (event == EVENT_COMMIT)
        GetCtrlVal(panel, control, &gLogToFile);
    return 0;
}

// ============================================================================
// Output control: setpoints, presets, main output, channel enable
// ============================================================================

namespace {

// Marks a setpoint control whose value the supply does not hold (clamped,
// refused, or no answer at all), and clears the mark once it does: the
// control itself keeps what it shows.
void showSetpointAgreement(int panel, int control, double shown, double reported, const char* unit)
{
    // Tolerates only the rounding of a decimal value through binary and back.
    const bool agrees = std::fabs(shown - reported) <= 1e-9 * std::fmax(1.0, std::fabs(shown));
    if (agrees) {
        SetCtrlAttribute(panel, control, ATTR_TEXT_BGCOLOR, VAL_DEFAULT_COLOR);
        SetCtrlAttribute(panel, control, ATTR_TOOLTIP_TEXT, "");
        return;
    }
    char tip[96];
    if (std::isnan(reported))
        snprintf(tip, sizeof tip, "The supply reported no setpoint");
    else
        snprintf(tip, sizeof tip, "The supply holds %g %s", reported, unit);
    SetCtrlAttribute(panel, control, ATTR_TEXT_BGCOLOR, VAL_WARNING_COLOR);
    SetCtrlAttribute(panel, control, ATTR_TOOLTIP_TEXT, tip);
}

} // namespace

int CVICALLBACK SetCB(int panel, int, int event, void*, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    unsigned char preset = 0;
    TMI_Invoke(TMI_PresetQ, TMI_DeviceId, &preset);
    SetCtrlVal(pnl, PANEL_PRESET, static_cast<int>(preset));
    for (unsigned char ch = 0; ch < CHANNELS; ++ch) {
        if (!(gMask & (1 << ch)))
            continue;
        double Voltage = 0.0, Current = 0.0;
        double heldVoltage = std::nan(""), heldCurrent = std::nan("");
        const unsigned char number = static_cast<unsigned char>(ch + 1);
        GetCtrlVal(panel, vset[ch], &Voltage);
        GetCtrlVal(panel, iset[ch], &Current);
        TMI_Invoke(TMI_Voltage, TMI_DeviceId, number, preset, Voltage);
        TMI_Invoke(TMI_VoltageQ, TMI_DeviceId, number, preset, &heldVoltage);
        TMI_Invoke(TMI_Current, TMI_DeviceId, number, preset, Current);
        TMI_Invoke(TMI_CurrentQ, TMI_DeviceId, number, preset, &heldCurrent);
        showSetpointAgreement(panel, vset[ch], Voltage, heldVoltage, "V");
        showSetpointAgreement(panel, iset[ch], Current, heldCurrent, "A");
    }
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
        // A query that writes nothing leaves NaN: the control keeps its value
        // and is marked, rather than showing a setpoint the supply never gave.
        double Voltage = std::nan(""), Current = std::nan("");
        TMI_Invoke(TMI_VoltageQ, TMI_DeviceId, static_cast<unsigned char>(ch + 1), preset, &Voltage);
        TMI_Invoke(TMI_CurrentQ, TMI_DeviceId, static_cast<unsigned char>(ch + 1), preset, &Current);
        SetCtrlVal(pnl, vset[ch], Voltage);
        SetCtrlVal(pnl, iset[ch], Current);
        double shownVoltage = 0.0, shownCurrent = 0.0;
        GetCtrlVal(pnl, vset[ch], &shownVoltage);
        GetCtrlVal(pnl, iset[ch], &shownCurrent);
        showSetpointAgreement(pnl, vset[ch], shownVoltage, Voltage, "V");
        showSetpointAgreement(pnl, iset[ch], shownCurrent, Current, "A");
        GetCtrlVal(pnl, radiob[ch], &ison);
        setMaskBit(ch, ison);
    }
    return 0;
}

int CVICALLBACK SwitchOnOffCB(int panel, int control, int event, void*, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    unsigned char state = 0;
    GetCtrlVal(panel, control, &state);
    TMI_Invoke(TMI_MainOutput, TMI_DeviceId, state);
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
            break;
        }
    }
    return 0;
}

// ============================================================================
// The callbacks the panel file may name
// ============================================================================

const UICallbackName uiCallbackNames[] = {
    {"ExitCB", ExitCB},
    {"LogToFileCB", LogToFileCB},
    {"ReadCB", ReadCB},
    {"SetCB", SetCB},
    {"SetIntervalCB", SetIntervalCB},
    {"SetMaskCB", SetMaskCB},
    {"SetPresetCB", SetPresetCB},
    {"SwitchOnOffCB", SwitchOnOffCB},
    {"TimerCB", TimerCB},
    {"TimerOnOffCB", TimerOnOffCB},
};
const std::size_t uiCallbackNameCount = std::size(uiCallbackNames);
