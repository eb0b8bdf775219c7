// libFuzzer target: any bytes as a panel file. LoadPanel must refuse or load
// them, never crash, hang or corrupt memory.
#include "railmon-ctrl.h"
#include "userint.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include <unistd.h>

namespace {
int CVICALLBACK ignore(int, int, int, void*, int, int)
{
    return 0;
}
std::string gPath;
} // namespace

RAILMON_UI_TABLES(ignore)

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static char name[] = "panel_fuzzer", platform[] = "-platform", offscreen[] = "offscreen";
    static char* argv[] = {name, platform, offscreen, nullptr};
    InitCVIRTEEx(0, argv, 0);
    gPath = "/tmp/panel_fuzzer." + std::to_string(getpid()) + ".uir";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (FILE* f = std::fopen(gPath.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    const int panel = LoadPanel(0, gPath.c_str(), 1);
    if (panel > 0)
        DiscardPanel(panel);
    return 0;
}
