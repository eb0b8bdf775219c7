#include "stop_signals.h"

#ifdef _WIN32
// Windows has no such signals: Ctrl+C, Ctrl+Break and a closed console
// window arrive at a console control handler, on a thread of their own.
#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>
#include <windows.h>

namespace {

std::atomic<bool> gSignalled{false};
std::function<void()> gOnStop;

BOOL WINAPI onConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    gSignalled = true;
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] { gOnStop(); }, Qt::QueuedConnection);
    // The system ends the process once this returns from a close: leave
    // shutdown its few seconds to hand the supply back.
    if (event == CTRL_CLOSE_EVENT)
        Sleep(5000);
    return TRUE;
}

} // namespace

bool stopSignalled()
{
    return gSignalled;
}

bool installStopSignals(std::function<void()> onStop)
{
    if (gOnStop)
        return true;
    gOnStop = std::move(onStop);
    return SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
}
#else
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace {

int gPipe[2] = {-1, -1};
volatile sig_atomic_t gSignalled = 0;

void onSignal(int)
{
    const int saved = errno;
    gSignalled = 1;
    const char byte = 1;
    // Async-signal-safe; a full pipe already holds a pending stop.
    [[maybe_unused]] const ssize_t n = write(gPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

bool stopSignalled()
{
    return gSignalled != 0;
}

bool installStopSignals(std::function<void()> onStop)
{
    if (gPipe[0] >= 0)
        return true;
    if (pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    // Lives as long as the process, like the handlers.
    auto* notifier = new QSocketNotifier(gPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onStop = std::move(onStop)] {
        char buffer[64];
        while (read(gPipe[0], buffer, sizeof buffer) > 0) {
        }
        onStop();
    });
    struct sigaction action { };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction ignore { };
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    bool ok = true;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ok = sigaction(signal, &action, nullptr) == 0 && ok;
    for (int signal : {SIGPIPE, SIGXFSZ})
        ok = sigaction(signal, &ignore, nullptr) == 0 && ok;
    return ok;
}
#endif
