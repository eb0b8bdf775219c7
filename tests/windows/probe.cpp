// railmon_probe.exe: railmon's code over the stand-in runtime, started by
// the Windows tests from a folder of its own beside the TMI_API.dll under
// test, so that the Windows loader finds (or refuses) that DLL as it would
// find the vendor's beside railmon.exe. One mode per run:
//   bind     TMI_Open, then what was bound, from where, and TMI_Test
//   startup  railmon's main, start-up to shutdown, no operator
//   smoke    railmon's main with an operator: main output on, Read, then a
//            setpoint and Set;
//            afterwards, whether the supply still answers the closed handle
//   logtick  one timer tick with logging on, in the working directory
#include "log_file.h"
#include "railmon.h"
#include "userint_standin.h"

#include <cstdio>
#include <cstring>
#include <string>

int railmon_main(int argc, char* argv[]);

namespace {

const char* const kDeclared[] = {
#define TMI_PROBE_NAME(name, params) #name,
    TMI_API_FUNCTIONS(TMI_PROBE_NAME)
#undef TMI_PROBE_NAME
};

void printBound()
{
    const bool bound[] = {
#define TMI_PROBE_BOUND(name, params) name != nullptr,
        TMI_API_FUNCTIONS(TMI_PROBE_BOUND)
#undef TMI_PROBE_BOUND
    };
    std::string line = "bound";
    for (int i = 0; i < TMI_API_FUNCTION_COUNT; ++i)
        if (bound[i])
            line += std::string(" ") + kDeclared[i];
    std::printf("%s\n", line.c_str());
}

int bind()
{
    std::printf("open %d\n", TMI_Open());
    printBound();
    char path[MAX_PATH] = {};
    GetModuleFileNameA(TMI_APIDll, path, sizeof path);
    std::printf("module %s\n", TMI_APIDll ? path : "");
    char dev[] = "PW-A";
    char usb[] = "USB:1:1";
    std::printf("handle %d\n", TMI_OpenHandle(dev, usb));
    std::printf("test %d\n", TMI_Test());
    TMI_Close();
    return 0;
}

void printChannels()
{
    for (int ch = 0; ch < CHANNELS; ++ch)
        std::printf("reading %d %.4f %.4f %g\n", ch + 1, standinValue(vmon[ch]), standinValue(imon[ch]),
                    standinValue(cvcc[ch]));
}

void smokeOperator()
{
    std::printf("preset %g setpoints %g %g\n", standinValue(PANEL_PRESET), standinValue(vset[0]),
                standinValue(iset[0]));
    standinEnter(PANEL_MAINOUTPUT, 1);
    SwitchOnOffCB(pnl, PANEL_MAINOUTPUT, EVENT_COMMIT, nullptr, 0, 0);
    ReadCB(pnl, PANEL_READ, EVENT_COMMIT, nullptr, 0, 0);
    printChannels();
    standinEnter(vset[0], 5.5);  // [V]
    standinEnter(iset[0], 0.25); // [A]
    SetCB(pnl, PANEL_SET, EVENT_COMMIT, nullptr, 0, 0);
    std::printf("set %g %g marked %d\n", standinValue(vset[0]), standinValue(iset[0]),
                standinBackground(vset[0]) != VAL_DEFAULT_COLOR || standinBackground(iset[0]) != VAL_DEFAULT_COLOR);
}

int smoke(int argc, char* argv[])
{
    // A reference of the probe's own keeps the DLL loaded past TMI_Close, to
    // ask it afterwards whether the handle was closed.
    HINSTANCE library = LoadLibraryA("TMI_API.dll");
    standinSetOperator(smokeOperator);
    const int status = railmon_main(argc, argv);
    if (library) {
        auto query = reinterpret_cast<int (*)(int, unsigned char*)>(
            reinterpret_cast<void (*)()>(GetProcAddress(library, "TMI_MainOutputQ")));
        unsigned char state = 0;
        // The simulator's handle is 1.
        std::printf("after close %d\n", query ? query(1, &state) : 999);
        FreeLibrary(library);
    }
    return status;
}

int logTick()
{
    gLogToFile = 1;
    TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
    LogClose();
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    const std::string mode = argc > 1 ? argv[1] : "";
    SetStdioPort(0);
    if (mode == "bind")
        return bind();
    if (mode == "startup")
        return railmon_main(argc, argv);
    if (mode == "smoke")
        return smoke(argc, argv);
    if (mode == "logtick")
        return logTick();
    std::fprintf(stderr, "usage: railmon_probe bind|startup|smoke|logtick\n");
    return 2;
}
