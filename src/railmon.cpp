// railmon: controls and monitors a four-output bench supply through the
// vendor's control library, loaded at run time.
#include "railmon.h"
#include "railmon-ctrl.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

// windows.h has them as macros of these values.
#ifndef _WIN32
enum { FALSE = 0, TRUE = 1 };
#endif

// What binding and the first query learnt, for the operator: which file was
// loaded, why binding failed, the model name the supply reported.
struct SupplyFacts {
    std::string library;    // the file loaded; empty when none was
    std::string problem;    // why binding failed; empty when it did not
    bool simulated = false; // the simulated supply that comes with railmon
    std::string model;      // as TMI_ModelNameQ wrote it
};
SupplyFacts gSupply;

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
        gSupply.problem = std::string("cannot load TMI_API.dll: ") + LastLoadErrorText();
        fprintf(stderr, "Cannot load TMI_API.dll: %s\n", LastLoadErrorText());
        return FALSE;
    }
    char path[4096];
    gSupply.library = GetModuleFileNameA(TMI_APIDll, path, sizeof path) > 0 ? path : "TMI_API.dll";
    gSupply.simulated = IsFallbackLibrary(TMI_APIDll);
    if (gSupply.simulated)
        printf("No TMI_API.dll installed: using the simulated supply %s\n", gSupply.library.c_str());
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
    printf("TMI_ModelNameQ %s\n", modelName);
    gSupply.model = modelName;
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
// Files on each system: the few calls that the device lock and the log make
// ============================================================================

namespace {

// The system's words for the last failed file call of this thread.
std::string lastSystemError()
{
#ifdef _WIN32
    const DWORD code = GetLastError();
    char* text = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string words = length > 0 && text ? std::string(text, length) : "error " + std::to_string(code);
    LocalFree(text);
    while (!words.empty() && (std::isspace(static_cast<unsigned char>(words.back())) || words.back() == '.'))
        words.pop_back();
    return words;
#else
    return strerror(errno);
#endif
}

#ifdef _WIN32
HANDLE osHandle(int fd)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// Windows' locks are mandatory for the bytes they cover: a lock on one byte
// far past any data makes another railmon's lock fail while reading and
// writing the data stay free.
bool lockFarByte(HANDLE file)
{
    OVERLAPPED at = {};
    at.OffsetHigh = 0x7FFFFFFF;
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

// Sets the file's end at `size` bytes.
bool setFileSize(HANDLE file, long long size)
{
    LARGE_INTEGER at = {};
    at.QuadPart = size;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}
#endif

// Writes at a byte offset; the count written, or -1 with `why` set.
long long writeAt(int fd, const char* data, size_t size, long long offset, std::string& why)
{
#ifdef _WIN32
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    if (!WriteFile(osHandle(fd), data, chunk, &written, &at)) {
        why = lastSystemError();
        return -1;
    }
    return written;
#else
    const ssize_t n = pwrite(fd, data, size, static_cast<off_t>(offset));
    if (n < 0)
        why = strerror(errno);
    return n;
#endif
}

// Cuts the file back to `size` bytes; false with `why` set.
bool cutBack(int fd, long long size, std::string& why)
{
#ifdef _WIN32
    const bool ok = setFileSize(osHandle(fd), size);
#else
    const bool ok = ftruncate(fd, static_cast<off_t>(size)) == 0;
#endif
    if (!ok)
        why = lastSystemError();
    return ok;
}

// Waits until what was written to the file is on the disk.
void syncData(int fd)
{
#ifdef _WIN32
    FlushFileBuffers(osHandle(fd));
#else
    fdatasync(fd);
#endif
}

// A device address as a part of a file name.
std::string fileNamePart(const char* address)
{
    std::string name = address;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

} // namespace

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
FILE* gFp = nullptr;

namespace {

const char* const kChannelLabels[CHANNELS] = {"CH +18V", "CH -18V", "CH +6V", "CH -6V"};

// ---- What the operator is told besides the readings -------------------------
//
// Three status fields below the charts: the supply (which library, which
// model, or why there is none), the readings (whether the last sweep
// delivered any, since when not, and a timer that falls behind), and the
// log (where, how many records, or why not). Each is written only when its
// text or colour changes.

void showStatus(int control, const std::string& text, int colour)
{
    SetCtrlVal(pnl, control, text.c_str());
    SetCtrlAttribute(pnl, control, ATTR_TEXT_BGCOLOR, colour);
}

std::string clockTime(time_t when)
{
    char text[16] = "";
    struct tm local = {};
#ifdef _WIN32
    const bool converted = localtime_s(&local, &when) == 0;
#else
    const bool converted = localtime_r(&when, &local) != nullptr;
#endif
    if (converted)
        strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

// Once start-up has bound the library, opened the connection and asked the
// model name: the status field and the window's title.
void showSupplyStatus(int deviceId, const char* address)
{
    // The library's path comes last: what a narrow field cuts off is then
    // the part the tooltip (the whole text) still shows.
    const std::string via = gSupply.library.empty() ? std::string()
        : gSupply.simulated                         ? " (simulated supply " + gSupply.library + ")"
                                                    : " (library " + gSupply.library + ")";
    std::string title = "railmon - no supply";
    if (!gSupply.problem.empty()) {
        showStatus(PANEL_STATUS_SUPPLY, "No supply: " + gSupply.problem, VAL_ERROR_COLOR);
    } else if (deviceId < 0) {
        showStatus(PANEL_STATUS_SUPPLY,
                   "No supply connected at " + std::string(address) + " (device handle " + std::to_string(deviceId) +
                       ")" + via,
                   VAL_ERROR_COLOR);
    } else if (gSupply.model.empty()) {
        showStatus(PANEL_STATUS_SUPPLY, "The supply at " + std::string(address) + " reported no model name" + via,
                   VAL_WARNING_COLOR);
        title = "railmon - supply without a model name";
    } else {
        showStatus(PANEL_STATUS_SUPPLY, gSupply.model + " at " + address + via, VAL_DEFAULT_COLOR);
        title = "railmon - " + gSupply.model;
    }
    SetPanelAttribute(pnl, ATTR_TITLE, title.c_str());
}

// The readings: the last sweep's outcome and, for the timer, the pace it
// achieves against the one asked for.
struct ReadingsFacts {
    time_t lastDelivered = 0; // when a sweep last delivered a reading
    bool silent = false;      // the last sweep delivered nothing at all
    // When the last ticks came [s on a monotonic clock], newest last.
    std::array<double, 20> ticks{};
    int tickCount = 0;
};
ReadingsFacts gReadings;

double monotonicSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The pace starts to be measured afresh: the timer was stopped or its
// interval changed.
void restartPace()
{
    gReadings.tickCount = 0;
}

// Ticks per second over the last ticks, or 0 while too few have come to
// tell. The window is long enough for three ticks even when each takes
// seconds of slow library calls: a tick slower than the window would
// otherwise never be measured, and a timer far behind never reported.
double achievedPace(double now, double interval)
{
    const double window = std::max(30.0, 4.0 * interval); // seconds
    const int n = std::min<int>(gReadings.tickCount, static_cast<int>(gReadings.ticks.size()));
    if (n == 0)
        return 0.0;
    int first = n - 1;
    while (first > 0 && now - gReadings.ticks[static_cast<size_t>(first - 1)] <= window)
        --first;
    const int counted = n - first;
    const double span = gReadings.ticks[static_cast<size_t>(n - 1)] - gReadings.ticks[static_cast<size_t>(first)];
    return counted >= 3 && span > 0 ? (counted - 1) / span : 0.0;
}

void noteTick()
{
    const double now = monotonicSeconds();
    auto& ticks = gReadings.ticks;
    if (gReadings.tickCount >= static_cast<int>(ticks.size()))
        std::rotate(ticks.begin(), ticks.begin() + 1, ticks.end());
    else
        ++gReadings.tickCount;
    ticks[static_cast<size_t>(std::min<int>(gReadings.tickCount, static_cast<int>(ticks.size())) - 1)] = now;
}

// What the main output switch is marked with: why its state is not
// confirmed, or nothing. The mark of the last switching is kept apart, so
// a supply that answers again gets that one back.
std::string gMainOutputMark;
void markMainOutput(const std::string& why)
{
    SetCtrlAttribute(pnl, PANEL_MAINOUTPUT, ATTR_TEXT_BGCOLOR, why.empty() ? VAL_DEFAULT_COLOR : VAL_WARNING_COLOR);
    SetCtrlAttribute(pnl, PANEL_MAINOUTPUT, ATTR_TOOLTIP_TEXT, why.c_str());
}

// After a sweep of `swept` channels of which `delivered` gave a reading.
void showReadingsStatus(int swept, int delivered, bool timer)
{
    const time_t now = time(nullptr);
    if (delivered > 0)
        gReadings.lastDelivered = now;
    std::string text;
    int colour = VAL_DEFAULT_COLOR;
    if (swept == 0) {
        text = "No channel enabled";
    } else if (delivered == swept) {
        text = "Readings at " + clockTime(now);
    } else if (delivered > 0) {
        text = "Readings at " + clockTime(now) + ": " + std::to_string(swept - delivered) + " of " +
            std::to_string(swept) + " channels gave none";
        colour = VAL_WARNING_COLOR;
    } else {
        text = gReadings.lastDelivered ? "No readings since " + clockTime(gReadings.lastDelivered)
                                       : std::string("No readings yet");
        text += ": the supply answers nothing";
        colour = VAL_ERROR_COLOR;
    }
    // A supply that answers nothing may have its outputs in any state: the
    // switch's last confirmed state is no longer one to rely on.
    const bool silent = swept > 0 && delivered == 0;
    if (silent != gReadings.silent) {
        gReadings.silent = silent;
        SetCtrlAttribute(pnl, PANEL_MAINOUTPUT, ATTR_STALE, silent ? 1 : 0);
        markMainOutput(
            silent ? "The supply answers nothing since " +
                    (gReadings.lastDelivered ? clockTime(gReadings.lastDelivered) : std::string("start-up")) +
                    ": the outputs may be in any state"
                   : gMainOutputMark);
    }
    if (timer) {
        double interval = 0.0;
        GetCtrlAttribute(pnl, PANEL_TIMER, ATTR_INTERVAL, &interval);
        const double pace = achievedPace(monotonicSeconds(), interval);
        // Behind by more than a tenth: the library's calls, or the machine,
        // are slower than the interval asks.
        if (interval > 0 && pace > 0 && pace < 0.9 / interval) {
            char behind[96];
            snprintf(behind, sizeof behind, "; timer at %.3g ticks/s of %.3g asked", pace, 1.0 / interval);
            text += behind;
            colour = colour == VAL_ERROR_COLOR ? colour : VAL_WARNING_COLOR;
        }
    }
    showStatus(PANEL_STATUS_READINGS, text, colour);
}

// The log's field; with the log's state, further down.
void showLogStatus();

// The export for a lab (RAILMON_METRICS_DIR), further down: what the supply
// reported goes in, and exportChanged hands it to the writer.
void exportChanged();
void exportMainOutput(int state);
void exportSetpoints(int ch, double volts, double amps);
void exportReading(int ch, const TMI_MonitorReading& reading);
void exportTick();

// Readouts that no longer show what the outputs do (after Set, a recall, a
// switched output, a disabled channel), greyed until their next reading.
void markReadingsStale(int panel, int ch)
{
    SetCtrlAttribute(panel, vmon[ch], ATTR_STALE, 1);
    SetCtrlAttribute(panel, imon[ch], ATTR_STALE, 1);
    SetCtrlAttribute(panel, cvcc[ch], ATTR_STALE, 1);
}

void markAllReadingsStale(int panel)
{
    for (int ch = 0; ch < CHANNELS; ++ch)
        markReadingsStale(panel, ch);
}

// The main output as the supply reports it, marked when that is not what
// the operator asked for (`asked` < 0: nothing was asked, as at start-up)
// or when no state came back at all.
enum : unsigned char { NO_OUTPUT_STATE = 0xFF };
void showMainOutput(int panel, int control, unsigned char reported, int asked)
{
    char tip[128] = "";
    if (reported == NO_OUTPUT_STATE) {
        SetCtrlVal(panel, control, std::nan(""));
        if (asked >= 0)
            snprintf(tip, sizeof tip, "Switched to %d; the supply did not confirm any state", asked);
        else
            snprintf(tip, sizeof tip, "The supply reported no main output state");
    } else {
        SetCtrlVal(panel, control, static_cast<int>(reported));
        if (asked >= 0 && reported != asked)
            snprintf(tip, sizeof tip, "Switched to %d; the supply reports %d", asked, reported);
    }
    gMainOutputMark = tip;
    if (!gReadings.silent)
        markMainOutput(gMainOutputMark);
    exportMainOutput(reported == NO_OUTPUT_STATE ? -1 : reported);
}

// The preset a query leaves when the supply wrote none: presets are small
// numbers, so this one is never a supply's answer.
enum : unsigned char { NO_PRESET = 0xFF };

// Shows the active preset as the supply reported it, or as not reported
// (never as a preset of its own). Returns the preset to address setpoints
// with: what was reported, or 0 as before when nothing was.
unsigned char showActivePreset(unsigned char reported)
{
    if (reported == NO_PRESET) {
        SetCtrlVal(pnl, PANEL_PRESET, std::nan(""));
        return 0;
    }
    SetCtrlVal(pnl, PANEL_PRESET, static_cast<int>(reported));
    return reported;
}

void setMaskBit(int ch, int ison)
{
    if (ison)
        gMask |= 1 << ch;
    else
        gMask &= ~(1 << ch);
}

// Shows a setpoint as the supply reported it, or marks the control when the
// supply gave none (it then holds no value, which Set does not write).
void showQueriedSetpoint(int panel, int control, double value)
{
    SetCtrlVal(panel, control, value);
    if (std::isnan(value)) {
        SetCtrlAttribute(panel, control, ATTR_TEXT_BGCOLOR, VAL_WARNING_COLOR);
        SetCtrlAttribute(panel, control, ATTR_TOOLTIP_TEXT,
                         "The supply reported no setpoint; Set writes none until you enter one");
    } else {
        SetCtrlAttribute(panel, control, ATTR_TEXT_BGCOLOR, VAL_DEFAULT_COLOR);
        SetCtrlAttribute(panel, control, ATTR_TOOLTIP_TEXT, "");
    }
}

// One railmon per supply: a second one commanding the same device would
// fight the first over its outputs. The lock is per user and named after the
// device address; it is held until the process ends. False, with the reason,
// when another process holds it; a lock that cannot be made at all is
// reported and not insisted on.
#ifdef _WIN32
bool lockDevice(const char* address, std::string& holder)
{
    // The user's own folder for temporary files.
    char temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length > MAX_PATH) {
        printf("Cannot check for another railmon on %s: no folder for temporary files\n", address);
        return true;
    }
    const std::string path = std::string(temp) + "railmon-" + fileNamePart(address) + ".lock";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        printf("Cannot check for another railmon on %s: %s: %s\n", address, path.c_str(), lastSystemError().c_str());
        return true;
    }
    OVERLAPPED start = {};
    if (lockFarByte(file)) {
        // The holder's process number, for a second railmon to name.
        const std::string pid = std::to_string(GetCurrentProcessId());
        DWORD written = 0;
        if (WriteFile(file, pid.data(), static_cast<DWORD>(pid.size()), &written, &start))
            setFileSize(file, static_cast<long long>(written));
        return true; // held by the open handle until the process ends
    }
    char text[32] = {};
    DWORD got = 0;
    holder = ReadFile(file, text, sizeof text - 1, &got, &start) && got > 0 ? std::string(text, got) : "?";
    CloseHandle(file);
    return false;
}
#else
bool lockDevice(const char* address, std::string& holder)
{
    std::string dir;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
        dir = runtime;
    } else {
        dir = "/tmp/railmon-" + std::to_string(getuid());
        mkdir(dir.c_str(), 0700);
        struct stat st = {};
        // Anyone may create a directory in /tmp: only our own will do.
        if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
            printf("Cannot check for another railmon on %s: %s is not a directory of this user's\n", address,
                   dir.c_str());
            return true;
        }
    }
    const std::string path = dir + "/railmon-" + fileNamePart(address) + ".lock";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        printf("Cannot check for another railmon on %s: %s: %s\n", address, path.c_str(), strerror(errno));
        return true;
    }
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_SETLK, &lock) == 0)
        return true; // held by the open descriptor until the process ends
    struct flock owner = {};
    owner.l_type = F_WRLCK;
    owner.l_whence = SEEK_SET;
    holder = fcntl(fd, F_GETLK, &owner) == 0 && owner.l_type != F_UNLCK ? std::to_string(owner.l_pid) : "?";
    close(fd);
    return false;
}
#endif

} // namespace

int main(int argc, char* argv[])
{
    (void)argc;
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

    if (InitCVIRTEEx(0, argv, 0) == 0)
        return -1;
    SetStdioPort(0);
    pnl = LoadPanel(0, "railmon-ctrl.uir", PANEL);
    if (pnl < 0)
        return -1;

    // Before anything reaches the supply.
    if (std::string holder; !lockDevice(usb, holder)) {
        const std::string message = "railmon (process " + holder + ") is already connected to the supply at " + usb +
            ".\nOne supply takes commands from one railmon at a time.";
        printf("%s\n", message.c_str());
        MessagePopup("Supply in use", message.c_str());
        DiscardPanel(pnl);
        return -1;
    }

    if (TMI_Open() == 0)
        MessagePopup("Error", "Cannot open USB device");
    DeviceId = TMI_OpenHandle(dev, usb);
    if (TMI_Test() == 0)
        MessagePopup("DLL error", "Dll Error");
    if (DeviceId < 0)
        MessagePopup("Error", "Not Connected");
    printf("TMI device ID %d\n", TMI_DeviceId);
    showSupplyStatus(DeviceId, usb);
    showStatus(PANEL_STATUS_READINGS, "No readings yet", VAL_DEFAULT_COLOR);
    showLogStatus();

    TMI_Invoke(TMI_MainOutputQ, TMI_DeviceId, &MainOutput);
    showMainOutput(pnl, PANEL_MAINOUTPUT, MainOutput, -1);

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
    MetricsOpen();

    DisplayPanel(pnl);
    RunUserInterface();

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

// ============================================================================
// Export for a lab: the latest state as Prometheus text for node_exporter
// ============================================================================
//
// With RAILMON_METRICS_DIR naming a directory, railmon keeps railmon.prom
// there for node_exporter's textfile collector: what the supply last
// reported, replaced whole (a temporary file renamed over it, so a scrape
// never reads half of one) at most once a second, by a thread of its own so
// the disk never holds up a tick. At exit it says railmon_up 0.

namespace {

const char kMetricsFileName[] = "railmon.prom";

// What the export shows of one channel. NaN: nothing the supply reported.
struct ChannelExport {
    double volts = std::nan(""), amps = std::nan("");
    int cvcc = 0;
    bool reading = false;           // the last sweep delivered one
    double readingTime = 0.0;       // [s since the epoch] of the last one delivered
    double setVolts = std::nan(""); // setpoints as the supply last confirmed them
    double setAmps = std::nan("");
    long silentSweeps = 0;
};
struct ExportFacts {
    ChannelExport channel[CHANNELS];
    int mainOutput = -1; // as reported; -1: none came
    int mask = 15;
    long ticks = 0;
};
ExportFacts gExport;

double epochSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void exportReading(int ch, const TMI_MonitorReading& reading)
{
    ChannelExport& c = gExport.channel[ch];
    c.reading = !TMI_NoReading(reading);
    if (!c.reading) {
        ++c.silentSweeps;
        return;
    }
    c.volts = reading.voltage;
    c.amps = reading.current;
    c.cvcc = static_cast<signed char>(reading.cv_cc);
    c.readingTime = epochSeconds();
}

void exportSetpoints(int ch, double volts, double amps)
{
    gExport.channel[ch].setVolts = volts;
    gExport.channel[ch].setAmps = amps;
}

// Label values escaped as the exposition format asks.
std::string labelValue(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        if (c == '\\' || c == '"')
            escaped += '\\';
        if (c == '\n') {
            escaped += "\\n";
            continue;
        }
        escaped += c;
    }
    return escaped;
}

// The exposition text: HELP and TYPE, then one sample per series; a value
// the supply never gave has no sample at all.
std::string exposition(const ExportFacts& facts, const std::string& model, bool up)
{
    const std::string modelLabel = model.empty() ? std::string() : "model=\"" + labelValue(model) + "\"";
    std::string text;
    char number[64];
    auto family = [&](const char* name, const char* type, const char* help) {
        text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    };
    auto sample = [&](const char* name, int ch, double value) {
        if (!std::isfinite(value))
            return;
        std::string labels = ch < 0
            ? modelLabel
            : "channel=\"" + std::string(kChannelLabels[ch]) + "\"" + (modelLabel.empty() ? "" : "," + modelLabel);
        snprintf(number, sizeof number, "%.15g", value);
        text += std::string(name) + (labels.empty() ? "" : "{" + labels + "}") + " " + number + "\n";
    };
    family("railmon_up", "gauge", "1 while railmon runs and exports, 0 once it has stopped.");
    sample("railmon_up", -1, up ? 1 : 0);
    if (!up)
        return text;
    struct PerChannel {
        const char *name, *type, *help;
        double (*value)(const ChannelExport&, const ExportFacts&, int);
    };
    const PerChannel perChannel[] = {
        {"railmon_voltage_volts", "gauge", "Output voltage the supply last measured.",
         [](const ChannelExport& c, const ExportFacts&, int) { return c.reading ? c.volts : std::nan(""); }},
        {"railmon_current_amperes", "gauge", "Output current the supply last measured.",
         [](const ChannelExport& c, const ExportFacts&, int) { return c.reading ? c.amps : std::nan(""); }},
        {"railmon_cvcc_code", "gauge", "CV/CC code the supply reported with its last measurement, as reported.",
         [](const ChannelExport& c, const ExportFacts&, int) { return c.reading ? c.cvcc : std::nan(""); }},
        {"railmon_voltage_setpoint_volts", "gauge", "Voltage setpoint the supply last confirmed.",
         [](const ChannelExport& c, const ExportFacts&, int) { return c.setVolts; }},
        {"railmon_current_setpoint_amperes", "gauge", "Current setpoint the supply last confirmed.",
         [](const ChannelExport& c, const ExportFacts&, int) { return c.setAmps; }},
        {"railmon_channel_enabled", "gauge", "1 when railmon reads, logs and sets the channel, 0 when not.",
         [](const ChannelExport&, const ExportFacts& f, int ch) { return (f.mask >> ch) & 1 ? 1.0 : 0.0; }},
        {"railmon_last_reading_timestamp_seconds", "gauge",
         "When the supply last delivered a reading of the channel, in seconds since the epoch.",
         [](const ChannelExport& c, const ExportFacts&, int) {
             return c.readingTime > 0 ? c.readingTime : std::nan("");
         }},
        {"railmon_sweeps_without_reading_total", "counter", "Monitor sweeps of the channel that delivered no reading.",
         [](const ChannelExport& c, const ExportFacts&, int) { return static_cast<double>(c.silentSweeps); }},
    };
    for (const PerChannel& metric : perChannel) {
        family(metric.name, metric.type, metric.help);
        for (int ch = 0; ch < CHANNELS; ++ch)
            sample(metric.name, ch, metric.value(facts.channel[ch], facts, ch));
    }
    family("railmon_main_output_state", "gauge", "Main output state the supply last reported, in its own encoding.");
    sample("railmon_main_output_state", -1, facts.mainOutput >= 0 ? facts.mainOutput : std::nan(""));
    family("railmon_ticks_total", "counter", "Timer ticks since railmon started.");
    sample("railmon_ticks_total", -1, static_cast<double>(facts.ticks));
    return text;
}

// Replaces dir/railmon.prom with `text`, readable by node_exporter's user.
bool writeMetricsFile(const std::string& dir, const std::string& text, std::string& why)
{
    const std::string path = dir + "/" + kMetricsFileName;
    // Not named *.prom, so the collector never reads it half written.
    std::string temporary = path + ".XXXXXX";
#ifdef _WIN32
    temporary = path + "." + std::to_string(GetCurrentProcessId());
    FILE* out = fopen(temporary.c_str(), "wb");
    bool ok = out && fwrite(text.data(), 1, text.size(), out) == text.size();
    ok = out && fclose(out) == 0 && ok;
    ok = ok && MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (!ok) {
        why = lastSystemError();
        remove(temporary.c_str());
    }
    return ok;
#else
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        why = strerror(errno);
        return false;
    }
    bool ok = fchmod(fd, 0644) == 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    int error = ok ? 0 : errno;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        why = strerror(error ? error : errno);
        unlink(temporary.c_str());
    }
    return ok;
#endif
}

struct MetricsWriter {
    std::mutex mutex;
    std::condition_variable wake;
    std::thread* thread = nullptr; // null when nothing is exported
    std::string dir, model;
    ExportFacts facts; // the newest, handed over by the event loop
    bool dirty = false, stop = false;
    std::string problem; // why the last write failed; empty after a success
};
MetricsWriter gMetrics;

void metricsLoop()
{
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(gMetrics.mutex);
    Clock::time_point last = Clock::now() - std::chrono::seconds(1);
    for (;;) {
        gMetrics.wake.wait(lock, [] { return gMetrics.dirty || gMetrics.stop; });
        if (gMetrics.stop)
            return;
        // At most once a second, however often the state changes.
        gMetrics.wake.wait_until(lock, last + std::chrono::seconds(1), [] { return gMetrics.stop; });
        if (gMetrics.stop)
            return;
        const ExportFacts facts = gMetrics.facts;
        gMetrics.dirty = false;
        lock.unlock();
        std::string why;
        const bool written = writeMetricsFile(gMetrics.dir, exposition(facts, gMetrics.model, true), why);
        last = Clock::now();
        lock.lock();
        gMetrics.problem = written ? std::string() : why;
    }
}

// True while writing the export fails, so it is said once per streak.
bool gMetricsFailing = false;

void showMetricsStatus()
{
    std::string problem;
    {
        std::lock_guard<std::mutex> lock(gMetrics.mutex);
        problem = gMetrics.problem;
    }
    const std::string path = gMetrics.dir + "/" + kMetricsFileName;
    if (!problem.empty()) {
        if (!gMetricsFailing)
            printf("Cannot write %s: %s\n", path.c_str(), problem.c_str());
        gMetricsFailing = true;
        showStatus(PANEL_STATUS_EXPORT, "Metrics: cannot write " + path + ": " + problem, VAL_ERROR_COLOR);
        return;
    }
    if (gMetricsFailing)
        printf("Writing %s again\n", path.c_str());
    gMetricsFailing = false;
    showStatus(PANEL_STATUS_EXPORT, "Metrics to " + path, VAL_DEFAULT_COLOR);
}

// Hands the newest state to the export, if there is one.
void exportChanged()
{
    if (!gMetrics.thread)
        return;
    gExport.mask = gMask;
    {
        std::lock_guard<std::mutex> lock(gMetrics.mutex);
        gMetrics.facts = gExport;
        gMetrics.dirty = true;
    }
    gMetrics.wake.notify_one();
    showMetricsStatus();
}

} // namespace

void MetricsOpen(void)
{
    const char* dir = std::getenv("RAILMON_METRICS_DIR");
    if (!dir || !*dir) {
        showStatus(PANEL_STATUS_EXPORT, "Metrics off", VAL_DEFAULT_COLOR);
        return;
    }
    gMetrics.dir = dir;
    gMetrics.model = gSupply.model;
    gMetrics.stop = false;
    gMetrics.thread = new std::thread(metricsLoop);
    exportChanged();
}

void MetricsClose(void)
{
    if (!gMetrics.thread)
        return;
    {
        std::lock_guard<std::mutex> lock(gMetrics.mutex);
        gMetrics.stop = true;
    }
    gMetrics.wake.notify_one();
    gMetrics.thread->join();
    delete gMetrics.thread;
    gMetrics.thread = nullptr;
    // The state above is no longer kept: only that railmon has stopped.
    std::string why;
    if (!writeMetricsFile(gMetrics.dir, exposition(gExport, gMetrics.model, false), why))
        printf("Cannot write %s/%s: %s\n", gMetrics.dir.c_str(), kMetricsFileName, why.c_str());
}

namespace {

void exportMainOutput(int state)
{
    gExport.mainOutput = state;
}

void exportTick()
{
    ++gExport.ticks;
}

} // namespace

// ============================================================================
// Monitoring: manual read, periodic acquisition, measurement log
// ============================================================================

namespace {

const char kLogFileName[] = "railmon.log";
// The previous run's log, kept when a run empties railmon.log.
const char kPreviousLogFileName[] = "railmon.log.1";
const char kLogHeader[] = "#time\tch\tU\tI\tCV_CC\n";

// A tick's records reach the file whole or not at all: they are gathered
// here and written at the end of the tick with one write. A write the disk
// cannot take whole is cut back to the end of the last whole tick, so the
// file never holds a part of a tick for the next one to be glued onto.
// They are kept as numbers and written out as text only then: between the
// supply's calls, where the tick's readings arrive, the caches have gone
// cold while it waited, and formatting costs many times what it does once
// after the last call.
struct LogRecord {
    unsigned long time; // [s] since the epoch, when the reading came
    int ch;
    double voltage, current; // [V], [A]
    int mode;
};
std::vector<LogRecord> gTickRecords;
std::string gTickText;
// Bytes of whole ticks in the file; where the next tick is written.
long long gLogEnd = 0;

// True while opening or writing the log fails, so the operator is told once
// per streak of failures, and how many ticks it cost when it ends.
bool gLogFailing = false;
long gTicksLost = 0;

// For the status line: where the log is, what it holds, what it lost.
std::string gLogPath;     // the full path, once opened
long gLogRecords = 0;     // records of this run in the file
long gTicksNotLogged = 0; // in this run, over all failure streaks

void showLogStatus()
{
    if (gLogFailing)
        return; // the failure stays on show until writing works again
    std::string text;
    if (!gFp)
        text = gLogToFile ? std::string("Log on: ") + kLogFileName + " opens at the next timer reading" : "Log off";
    else
        // The count first: it is what changes, and a narrow field cuts the
        // end of the line, where the path is.
        text = std::string(gLogToFile ? "Logging: " : "Log paused: ") + std::to_string(gLogRecords) +
            (gLogRecords == 1 ? " record" : " records") + (gLogToFile ? " to " : " in ") + gLogPath;
    if (gTicksNotLogged > 0)
        text += "; " + std::to_string(gTicksNotLogged) + (gTicksNotLogged == 1 ? " tick" : " ticks") + " not logged";
    showStatus(PANEL_STATUS_LOG, text, gTicksNotLogged > 0 ? VAL_WARNING_COLOR : VAL_DEFAULT_COLOR);
}

void reportLogFailure(const char* what, const std::string& why)
{
    if (!gLogFailing)
        printf("%s %s: %s\n", what, kLogFileName, why.c_str());
    gLogFailing = true;
    showStatus(PANEL_STATUS_LOG, std::string("Log: ") + what + " " + kLogFileName + ": " + why, VAL_ERROR_COLOR);
}

void noteTickLost()
{
    ++gTicksLost;
    ++gTicksNotLogged;
}

void reportLogResumed()
{
    if (gLogFailing && gTicksLost > 0)
        printf("Writing %s again: %ld tick%s could not be logged\n", kLogFileName, gTicksLost,
               gTicksLost == 1 ? "" : "s");
    gLogFailing = false;
    gTicksLost = 0;
}

// ---- Syncing: a power cut loses at most the last second of the log --------
//
// The sync (fdatasync; FlushFileBuffers on Windows) waits for the disk,
// which can take tens of milliseconds on a spinning one; it runs beside the
// event loop, at most once a second, for whatever the ticks wrote since the
// last one.
struct LogSyncer {
    std::mutex mutex;
    std::condition_variable wake;
    std::thread* thread = nullptr; // never destroyed while it may run
    int fd = -1;
    bool dirty = false, stop = false;
};
LogSyncer gSync;

void syncLoop()
{
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(gSync.mutex);
    Clock::time_point last = Clock::now() - std::chrono::seconds(1);
    for (;;) {
        gSync.wake.wait(lock, [] { return gSync.dirty || gSync.stop; });
        if (!gSync.dirty)
            return;
        // At most once a second; a stop syncs what is left at once.
        gSync.wake.wait_until(lock, last + std::chrono::seconds(1), [] { return gSync.stop; });
        gSync.dirty = false;
        const int fd = gSync.fd;
        lock.unlock();
        syncData(fd);
        last = Clock::now();
        lock.lock();
    }
}

void requestLogSync(int fd)
{
    std::lock_guard<std::mutex> lock(gSync.mutex);
    if (!gSync.thread) {
        gSync.stop = false;
        gSync.thread = new std::thread(syncLoop);
    }
    gSync.fd = fd;
    // Only a syncer waiting for something to sync needs waking: one that
    // already has some waits out its second, or is syncing and looks again
    // after, and each tick's wake-up would be a thread switch for nothing.
    const bool alreadyDirty = std::exchange(gSync.dirty, true);
    if (!alreadyDirty)
        gSync.wake.notify_one();
}

// Returns once everything written has been synced.
void stopLogSync()
{
    if (!gSync.thread)
        return;
    {
        std::lock_guard<std::mutex> lock(gSync.mutex);
        gSync.stop = true;
        gSync.wake.notify_one();
    }
    gSync.thread->join();
    delete gSync.thread;
    gSync.thread = nullptr;
    gSync.dirty = false;
}

// ---- Opening: only a regular file, never through a link, one writer -------

#ifdef _WIN32
// What a name that is not a plain file is, from its attributes and type.
const char* fileKind(DWORD attributes, DWORD type)
{
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return "a symbolic link or junction";
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return "a directory";
    if (type == FILE_TYPE_PIPE)
        return "a pipe";
    if (type == FILE_TYPE_CHAR)
        return "a device";
    return "not a regular file";
}

// Copies the log's present content to railmon.log.1 (a temporary file of its
// own, moved over it), so emptying railmon.log for this run destroys nothing.
bool keepPreviousLog(HANDLE log, long long size, std::string& why)
{
    const std::string failed = std::string("cannot keep its previous content as ") + kPreviousLogFileName + ": ";
    // Created exclusively: nothing planted under its name is written through.
    std::string temporary;
    HANDLE out = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && out == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = std::string(kPreviousLogFileName) + "." + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(attempt);
        out = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (out == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (out == INVALID_HANDLE_VALUE) {
        why = failed + lastSystemError();
        return false;
    }
    static char buffer[64 * 1024];
    bool ok = true;
    for (long long at = 0; ok && at < size;) {
        OVERLAPPED from = {};
        from.Offset = static_cast<DWORD>(at);
        from.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD got = 0;
        ok = ReadFile(log, buffer, sizeof buffer, &got, &from) && got > 0;
        for (DWORD done = 0; ok && done < got;) {
            DWORD put = 0;
            ok = WriteFile(out, buffer + done, got - done, &put, nullptr) && put > 0;
            done += put;
        }
        at += got;
    }
    // On the disk before railmon.log is emptied.
    ok = ok && FlushFileBuffers(out);
    std::string error = ok ? std::string() : lastSystemError();
    CloseHandle(out);
    if (ok &&
        !MoveFileExA(temporary.c_str(), kPreviousLogFileName, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        error = lastSystemError();
    }
    if (!ok) {
        why = failed + error;
        DeleteFileA(temporary.c_str());
    }
    return ok;
}

// Opens railmon.log for this run, as on POSIX below: a plain file only, never
// through a symbolic link or junction (a reparse point is opened as itself
// and refused), locked so two railmon never write one file, and emptied only
// once the previous content is safe in railmon.log.1. The stream is binary,
// so a byte offset in the file is a byte offset in the records.
FILE* openLog(std::string& why)
{
    const DWORD named = GetFileAttributesA(kLogFileName);
    if (named != INVALID_FILE_ATTRIBUTES && (named & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        why = std::string("it is ") + fileKind(named, FILE_TYPE_DISK) + ", not a regular file; not logging";
        return nullptr;
    }
    HANDLE file = CreateFileA(kLogFileName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = lastSystemError();
        return nullptr;
    }
    auto fail = [&](const std::string& reason) -> FILE* {
        why = reason;
        CloseHandle(file);
        return nullptr;
    };
    // The same check on what was opened, in case the name changed between.
    BY_HANDLE_FILE_INFORMATION info = {};
    const DWORD type = GetFileType(file);
    if (!GetFileInformationByHandle(file, &info))
        info.dwFileAttributes = FILE_ATTRIBUTE_DEVICE;
    if (type != FILE_TYPE_DISK ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)))
        return fail(std::string("it is ") + fileKind(info.dwFileAttributes, type) +
                    ", not a regular file; not logging");
    if (!lockFarByte(file))
        return fail("another railmon is writing it; not logging");
    const long long size = static_cast<long long>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    if (size > 0 && !keepPreviousLog(file, size, why))
        return fail(why);
    if (!setFileSize(file, 0))
        return fail(lastSystemError());
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), 0);
    if (fd < 0)
        return fail(strerror(errno));
    _setmode(fd, _O_BINARY);
    FILE* fp = _fdopen(fd, "wb");
    if (!fp) {
        why = strerror(errno);
        _close(fd); // closes the handle too
    }
    return fp;
}
#else
const char* fileKind(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISLNK(mode))
        return "a symbolic link";
    return "not a regular file";
}

// Copies the log's present content to railmon.log.1 (a temporary file
// renamed over it), so emptying railmon.log for this run destroys nothing.
bool keepPreviousLog(int fd, long long size, std::string& why)
{
    char temporary[] = "railmon.log.1.XXXXXX";
    const int out = mkostemp(temporary, O_CLOEXEC);
    if (out < 0) {
        why = std::string("cannot keep its previous content as ") + kPreviousLogFileName + ": " + strerror(errno);
        return false;
    }
    fchmod(out, 0644);
    static char buffer[64 * 1024];
    bool ok = true;
    for (long long at = 0; ok && at < size;) {
        const ssize_t n = pread(fd, buffer, sizeof buffer, at);
        ok = n > 0;
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
            ok = w > 0;
            done += ok ? w : 0;
        }
        at += ok ? n : 0;
    }
    // On the disk before railmon.log is emptied.
    ok = ok && fsync(out) == 0;
    const int error = errno;
    ok = close(out) == 0 && ok;
    ok = ok && rename(temporary, kPreviousLogFileName) == 0;
    if (!ok) {
        why = std::string("cannot keep its previous content as ") + kPreviousLogFileName + ": " +
            strerror(errno ? errno : error);
        unlink(temporary);
    }
    return ok;
}

// Opens railmon.log for this run: a regular file only (a FIFO would block
// the program, a link would let it overwrite whatever the link names), with
// an advisory lock so two railmon never write one file, and emptied only
// once the previous content is safe in railmon.log.1. The order matters:
// renaming the locked file away would let a later railmon lock another file
// than the one being written.
FILE* openLog(std::string& why)
{
    struct stat st = {};
    if (lstat(kLogFileName, &st) == 0 && !S_ISREG(st.st_mode)) {
        why = std::string("it is ") + fileKind(st.st_mode) + ", not a regular file; not logging";
        return nullptr;
    }
    const int fd = open(kLogFileName, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = errno == ELOOP ? "it is a symbolic link, not a regular file; not logging" : strerror(errno);
        return nullptr;
    }
    auto fail = [&](const std::string& reason) -> FILE* {
        why = reason;
        close(fd);
        return nullptr;
    };
    // The same check on what was opened, in case the name changed between.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return fail(std::string("it is ") + fileKind(st.st_mode) + ", not a regular file; not logging");
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_SETLK, &lock) != 0) {
        struct flock owner = lock;
        const bool known = fcntl(fd, F_GETLK, &owner) == 0 && owner.l_type != F_UNLCK;
        return fail("another railmon" + (known ? " (process " + std::to_string(owner.l_pid) + ")" : std::string()) +
                    " is writing it; not logging");
    }
    if (st.st_size > 0 && !keepPreviousLog(fd, st.st_size, why))
        return fail(why);
    if (ftruncate(fd, 0) != 0)
        return fail(strerror(errno));
    FILE* fp = fdopen(fd, "w");
    if (!fp)
        return fail(strerror(errno));
    return fp;
}
#endif

// ---- Writing ---------------------------------------------------------------

void showReading(int panel, int ch, const TMI_MonitorReading& reading)
{
    SetCtrlVal(panel, vmon[ch], reading.voltage);
    SetCtrlVal(panel, imon[ch], reading.current);
    // A code that came with no numbers is not a code the supply reported.
    if (TMI_NoReading(reading))
        SetCtrlVal(panel, cvcc[ch], std::nan(""));
    else
        SetCtrlVal(panel, cvcc[ch], static_cast<int>(static_cast<signed char>(reading.cv_cc)));
    exportReading(ch, reading);
}

// Adds one record to this tick's records, opening the file (emptied, with
// its header) at the first logged reading of the run. False when the log
// cannot be opened; it is tried again at the next logged reading.
bool LogWrite(int ch, const TMI_MonitorReading& reading)
{
    if (!gFp) {
        std::string why;
        gFp = openLog(why);
        if (!gFp) {
            reportLogFailure("Cannot open", why);
            return false;
        }
        gLogEnd = 0;
        gLogRecords = 0;
        char cwd[4096];
        gLogPath = getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + kLogFileName : kLogFileName;
    }
    gTickRecords.push_back({static_cast<unsigned long>(time(nullptr)), ch + 1, reading.voltage, reading.current,
                            static_cast<int>(static_cast<signed char>(reading.cv_cc))});
    return true;
}

// One record as printf's "%lu\t%d\t%g\t%g\t%d\n" writes it in the C locale,
// without printf's parsing of its format and look-up of the locale for
// every record.
void appendRecord(std::string& text, const LogRecord& r)
{
    char record[160];
    char* at = record;
    char* const end = record + sizeof record;
    // Each field leaves room for what follows it (a record is at most 80).
    auto field = [&](auto value, char after) {
        at = std::to_chars(at, end - 1, value).ptr;
        *at++ = after;
    };
    auto reading = [&](double value) {
        at = std::to_chars(at, end - 1, value, std::chars_format::general, 6).ptr; // %g
        *at++ = '\t';
    };
    field(r.time, '\t');
    field(r.ch, '\t');
    reading(r.voltage);
    reading(r.current);
    field(r.mode, '\n');
    text.append(record, static_cast<size_t>(at - record));
}

// Writes the tick's records in one piece, or none of them.
void LogFinishTick()
{
    if (gTickRecords.empty())
        return;
    gTickText.clear();
    if (gLogEnd == 0)
        gTickText = kLogHeader;
    for (const LogRecord& r : gTickRecords)
        appendRecord(gTickText, r);
    const int records = static_cast<int>(gTickRecords.size());
    gTickRecords.clear();
    const int fd = fileno(gFp);
    const char* data = gTickText.data();
    const size_t size = gTickText.size();
    size_t done = 0;
    std::string error;
    // One write; a second only to learn why the first fell short.
    while (done < size) {
        const long long n = writeAt(fd, data + done, size - done, gLogEnd + static_cast<long long>(done), error);
        if (n <= 0) {
            if (n == 0)
                error = strerror(EIO);
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (done == size) {
        gLogEnd += static_cast<long long>(size);
        gLogRecords += records;
        reportLogResumed();
        requestLogSync(fd);
        showLogStatus();
        return;
    }
    noteTickLost();
    if (std::string cutError; done > 0 && !cutBack(fd, gLogEnd, cutError)) {
        reportLogFailure("Cannot write", error + "; and cannot cut back the part written: " + cutError);
        return;
    }
    reportLogFailure("Cannot write", error);
}

} // namespace

void LogClose(void)
{
    gLogFailing = false;
    gTicksLost = 0;
    if (!gFp)
        return;
    stopLogSync();
    fclose(gFp);
    gTickRecords.clear();
    gLogEnd = 0;
    gLogRecords = 0;
    gTicksNotLogged = 0;
    gLogPath.clear();
}

int CVICALLBACK ReadCB(int panel, int, int event, void*, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    int swept = 0, delivered = 0;
    for (int ch = 0; ch < CHANNELS; ++ch) {
        if (!(gMask & (1 << ch)))
            continue;
        const TMI_MonitorReading reading = TMI_MonitorSweep(ch);
        showReading(panel, ch, reading);
        ++swept;
        delivered += !TMI_NoReading(reading);
    }
    showReadingsStatus(swept, delivered, false);
    exportChanged();
    return 0;
}

int CVICALLBACK TimerCB(int panel, int, int event, void*, int, int)
{
    if (event != EVENT_TIMER_TICK)
        return 0;
    // A disabled channel's trace gets NaN, which the chart draws as a gap.
    double current[CHANNELS], voltage[CHANNELS];
    bool unlogged = false;
    int swept = 0, delivered = 0;
    noteTick();
    for (int ch = 0; ch < CHANNELS; ++ch) {
        current[ch] = voltage[ch] = std::nan("");
        if (!(gMask & (1 << ch)))
            continue;
        const TMI_MonitorReading reading = TMI_MonitorSweep(ch);
        voltage[ch] = reading.voltage;
        current[ch] = reading.current;
        showReading(panel, ch, reading);
        ++swept;
        delivered += !TMI_NoReading(reading);
        if (gLogToFile)
            unlogged = !LogWrite(ch, reading) || unlogged;
    }
    // The whole tick at once, so a kill, a full disk or a crash loses no
    // finished tick and leaves no part of one.
    if (unlogged) {
        // Not the part of it that could be: the next tick's would be glued on.
        gTickRecords.clear();
        noteTickLost();
    } else {
        LogFinishTick();
    }
    PlotStripChart(panel, PANEL_ICHART, current, CHANNELS, 0, 0, VAL_DOUBLE);
    PlotStripChart(panel, PANEL_VCHART, voltage, CHANNELS, 0, 0, VAL_DOUBLE);
    showReadingsStatus(swept, delivered, true);
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
    showLogStatus();
    return 0;
}

// ============================================================================
// Output control: setpoints, presets, main output, channel enable
// ============================================================================

namespace {

// Marks a setpoint control whose value the supply does not hold (clamped,
// refused, or no answer at all), and clears the mark once it does: the
// control itself keeps what it shows. A control that held no value shows
// what the supply now reports, if anything.
void showSetpointAgreement(int panel, int control, double shown, double reported, const char* unit)
{
    if (std::isnan(shown)) {
        showQueriedSetpoint(panel, control, reported);
        return;
    }
    // Equal at the decimals the control shows: a supply rounds what it is
    // given to its own resolution, and the operator sees no more digits.
    int decimals = 3;
    GetCtrlAttribute(panel, control, ATTR_PRECISION, &decimals);
    const double scale = std::pow(10.0, decimals);
    const bool agrees = std::round(shown * scale) == std::round(reported * scale);
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
    unsigned char preset = NO_PRESET;
    TMI_Invoke(TMI_PresetQ, TMI_DeviceId, &preset);
    preset = showActivePreset(preset);
    for (unsigned char ch = 0; ch < CHANNELS; ++ch) {
        if (!(gMask & (1 << ch)))
            continue;
        double Voltage = 0.0, Current = 0.0;
        double heldVoltage = std::nan(""), heldCurrent = std::nan("");
        const unsigned char number = static_cast<unsigned char>(ch + 1);
        GetCtrlVal(panel, vset[ch], &Voltage);
        GetCtrlVal(panel, iset[ch], &Current);
        // A control with no value holds a setpoint the supply never gave and
        // the operator never entered: nothing to write. Its query is still
        // made, and may give the control a value at last.
        if (!std::isnan(Voltage))
            TMI_Invoke(TMI_Voltage, TMI_DeviceId, number, preset, Voltage);
        TMI_Invoke(TMI_VoltageQ, TMI_DeviceId, number, preset, &heldVoltage);
        if (!std::isnan(Current))
            TMI_Invoke(TMI_Current, TMI_DeviceId, number, preset, Current);
        TMI_Invoke(TMI_CurrentQ, TMI_DeviceId, number, preset, &heldCurrent);
        showSetpointAgreement(panel, vset[ch], Voltage, heldVoltage, "V");
        showSetpointAgreement(panel, iset[ch], Current, heldCurrent, "A");
        exportSetpoints(ch, heldVoltage, heldCurrent);
        markReadingsStale(pnl, ch);
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
    }
    // The outputs now follow another preset.
    markAllReadingsStale(pnl);
    exportChanged();
    return 0;
}

int CVICALLBACK SwitchOnOffCB(int panel, int control, int event, void*, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    unsigned char state = 0;
    GetCtrlVal(panel, control, &state);
    TMI_Invoke(TMI_MainOutput, TMI_DeviceId, state);
    // What the switch shows is what the supply then reports, not the click.
    unsigned char reported = NO_OUTPUT_STATE;
    TMI_Invoke(TMI_MainOutputQ, TMI_DeviceId, &reported);
    showMainOutput(panel, control, reported, state);
    markAllReadingsStale(panel);
    exportChanged();
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
            break;
        }
    }
    exportChanged();
    return 0;
}

// ============================================================================
// The callbacks the panel file may name
// ============================================================================

// Each of the ten names bound to the callback of that name, and every named
// control, for the runtime to check the panel file against.
RAILMON_UI_TABLES(name)
