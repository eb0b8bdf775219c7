#include "userint_standin.h"

#include "railmon-ctrl.h"

#include <cstdio>
#include <map>

namespace {

std::map<int, double> gValues;
std::map<int, int> gBackgrounds;
void (*gOperator)() = nullptr;

double startValue(int control)
{
    switch (control) {
    case PANEL_ENABLE1:
    case PANEL_ENABLE2:
    case PANEL_ENABLE3:
    case PANEL_ENABLE4:
        return 1.0;
    case PANEL_INTERVAL:
        return 1.0;
    default:
        return 0.0;
    }
}

} // namespace

double standinValue(int control)
{
    const auto it = gValues.find(control);
    return it != gValues.end() ? it->second : startValue(control);
}

void standinEnter(int control, double value)
{
    gValues[control] = value;
}

int standinBackground(int control)
{
    const auto it = gBackgrounds.find(control);
    return it != gBackgrounds.end() ? it->second : VAL_DEFAULT_COLOR;
}

void standinSetOperator(void (*work)())
{
    gOperator = work;
}

int InitCVIRTEEx(void*, char*[], void*)
{
    return 1;
}

int SetStdioPort(int)
{
    // Unbuffered, so lines keep their order with standard error's.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    return 0;
}

int LoadPanel(int, const char*, int panelResourceId)
{
    return panelResourceId == PANEL ? 1 : UIE_FORMAT;
}

int DisplayPanel(int)
{
    return 0;
}

int DiscardPanel(int)
{
    return 0;
}

int RunUserInterface(void)
{
    if (gOperator)
        gOperator();
    return 0;
}

int QuitUserInterface(int)
{
    return 0;
}

int GetCtrlVal(int, int control, double* value)
{
    *value = standinValue(control);
    return 0;
}

int GetCtrlVal(int, int control, int* value)
{
    *value = static_cast<int>(standinValue(control));
    return 0;
}

int GetCtrlVal(int, int control, unsigned char* value)
{
    *value = static_cast<unsigned char>(standinValue(control));
    return 0;
}

int SetCtrlVal(int, int control, double value)
{
    gValues[control] = value;
    return 0;
}

int SetCtrlVal(int, int control, int value)
{
    gValues[control] = value;
    return 0;
}

int SetCtrlVal(int, int, const char*)
{
    return 0;
}

int SetCtrlAttribute(int, int, int, double)
{
    return 0;
}

int GetCtrlAttribute(int, int, int attribute, int* value)
{
    // Setpoints show three decimals, as on the panel.
    if (attribute == ATTR_PRECISION)
        *value = 3;
    return 0;
}

int GetCtrlAttribute(int, int, int attribute, double* value)
{
    if (attribute == ATTR_INTERVAL)
        *value = 1.0;
    return 0;
}

int SetPanelAttribute(int, int, const char*)
{
    return 0;
}

int SetCtrlAttribute(int, int control, int attribute, int value)
{
    if (attribute == ATTR_TEXT_BGCOLOR)
        gBackgrounds[control] = value;
    return 0;
}

int SetCtrlAttribute(int, int, int, const char*)
{
    return 0;
}

int SetTraceAttributeEx(int, int, int, int, const char*)
{
    return 0;
}

int PlotStripChart(int, int, const void*, int, int, int, int)
{
    return 0;
}

int MessagePopup(const char* title, const char* message)
{
    std::printf("POPUP %s|%s\n", title, message);
    return 0;
}

// Nobody is there to confirm: no, as the runtime answers while stopping.
int ConfirmPopup(const char* title, const char* message)
{
    std::printf("CONFIRM %s|%s\n", title, message);
    return 0;
}

int SuspendTimerCallbacks(void)
{
    return 0;
}

int ResumeTimerCallbacks(void)
{
    return 0;
}

int StopRequested(void)
{
    return 0;
}

// No loop to keep alive: the call is made where it is asked for.
int CallInstrument(const char*, int (*call)(void* context), void* context)
{
    return call(context);
}

int TakeWaitingCommit(int*, int*)
{
    return 0;
}

// No TCP server in this build: every call says so, and a program that offers
// one goes on without it.
int RegisterTCPServer(int, tcpFuncPtr, void*)
{
    return UIE_TCP_NOT_AVAILABLE;
}

int UnregisterTCPServer(int)
{
    return UIE_TCP_NOT_AVAILABLE;
}

int ServerTCPRead(int, void*, int)
{
    return UIE_TCP_NOT_AVAILABLE;
}

int ServerTCPWrite(int, const void*, int)
{
    return UIE_TCP_NOT_AVAILABLE;
}

int GetTCPOutputPending(int)
{
    return UIE_TCP_NOT_AVAILABLE;
}

int DisconnectTCPClient(int)
{
    return UIE_TCP_NOT_AVAILABLE;
}

int CloseTCPClient(int)
{
    return UIE_TCP_NOT_AVAILABLE;
}

int GetTCPPeerAddr(int, char*, int)
{
    return UIE_TCP_NOT_AVAILABLE;
}

int GetTCPPeerUid(int, long*)
{
    return UIE_TCP_NOT_AVAILABLE;
}

const char* GetTCPErrorString(int code)
{
    return code == UIE_TCP_NOT_AVAILABLE ? "no TCP server in this build" : "TCP server not available";
}
