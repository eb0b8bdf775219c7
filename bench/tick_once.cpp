// One timer tick for callgrind: four channels on the simulated supply,
// logging on, after enough ticks that the log is open and the charts past
// their first points. Only measuredTick is counted:
//   valgrind --tool=callgrind --collect-atstart=no
//     --toggle-collect='*measuredTick*' build/bench/tick_once
// (one command; bench/run_bench.py runs it)
#include "log_file.h"
#include "railmon-ctrl.h"
#include "railmon.h"
#include "test_paths.h"

#include <cstdlib>
#include <filesystem>

namespace {
constexpr int kWarmUpTicks = 50;
} // namespace

// Kept out of line so callgrind can count it alone.
__attribute__((noinline)) void measuredTick()
{
    TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
}

int main()
{
    const auto dir = std::filesystem::temp_directory_path() / "railmon-tick-once";
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    static char name[] = "tick_once", platform[] = "-platform", offscreen[] = "offscreen";
    static char* argv[] = {name, platform, offscreen, nullptr};
    InitCVIRTEEx(0, argv, 0);
    SetStdioPort(0);
    setenv("LD_LIBRARY_PATH", RAILMON_BIN_DIR, 1);
    setenv("TMI_SIM_STATE", (dir / "sim.state").c_str(), 1);
    pnl = LoadPanel(0, RAILMON_PANEL_FILE, PANEL);
    TMI_Open();
    char dev[] = "PW-A", usb[] = "USB:1:1";
    TMI_OpenHandle(dev, usb);
    TMI_MainOutput(TMI_DeviceId, 1);
    gMask = 15;
    gLogToFile = 1;
    for (int i = 0; i < kWarmUpTicks; ++i)
        TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0);
    measuredTick();
    DiscardPanel(pnl);
    TMI_Close();
    LogClose();
    std::filesystem::current_path(dir.parent_path());
    std::filesystem::remove_all(dir);
    return 0;
}
