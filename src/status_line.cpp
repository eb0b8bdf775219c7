#include "status_line.h"

#include "number_text.h"
#include "osfile.h"
#include "panel_marks.h"
#include "railmon.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>

SupplyFacts gSupply;

void showStatus(int control, const std::string& text, int colour)
{
    SetCtrlVal(pnl, control, text.c_str());
    SetCtrlAttribute(pnl, control, ATTR_TEXT_BGCOLOR, colour);
}

std::string clockTime(std::time_t when)
{
    char text[16] = "";
    std::tm local = {};
    if (OsLocalTime(when, local))
        std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

void showSupplyStatus(int deviceId, const char* address, const std::string& unguarded)
{
    // The library's path comes last: what a narrow field cuts off is then
    // the part the tooltip (the whole text) still shows.
    const std::string via = gSupply.library.empty() ? std::string()
        : gSupply.simulated                         ? " (simulated supply " + gSupply.library + ")"
                                                    : " (library " + gSupply.library + ")";
    std::string title = "railmon - no supply";
    std::string text;
    int colour = VAL_DEFAULT_COLOR;
    if (!gSupply.problem.empty()) {
        text = "No supply: " + gSupply.problem;
        colour = VAL_ERROR_COLOR;
    } else if (deviceId < 0) {
        text = "No supply connected at " + std::string(address) + " (device handle " + std::to_string(deviceId) + ")" +
            via;
        colour = VAL_ERROR_COLOR;
    } else if (gSupply.model.empty()) {
        text = "The supply at " + std::string(address) + " reported no model name" + via;
        colour = VAL_WARNING_COLOR;
        title = "railmon - supply without a model name";
    } else {
        text = gSupply.model + " at " + address + via;
        title = "railmon - " + gSupply.model;
    }
    // Said first: a second railmon could drive the same outputs.
    if (!unguarded.empty()) {
        text = "Not guarded against a second railmon (" + unguarded + "); " + text;
        colour = VAL_ERROR_COLOR;
    }
    showStatus(PANEL_STATUS_SUPPLY, text, colour);
    SetPanelAttribute(pnl, ATTR_TITLE, title.c_str());
}

namespace {

// The readings: the last sweep's outcome and, for the timer, the pace it
// achieves against the one asked for.
struct ReadingsFacts {
    std::time_t lastDelivered = 0; // when a sweep last delivered a reading
    // When the last ticks came [s on a monotonic clock], newest last.
    std::array<double, 20> ticks{};
    int tickCount = 0;
};
ReadingsFacts gReadings;

double monotonicSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
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

} // namespace

void restartPace()
{
    gReadings.tickCount = 0;
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

void showReadingsStatus(int swept, int delivered, bool timer)
{
    const std::time_t now = std::time(nullptr);
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
    markSupplySilent(swept > 0 && delivered == 0, gReadings.lastDelivered);
    if (timer) {
        double interval = 0.0;
        GetCtrlAttribute(pnl, PANEL_TIMER, ATTR_INTERVAL, &interval);
        const double pace = achievedPace(monotonicSeconds(), interval);
        // Behind by more than a tenth: the library's calls, or the machine,
        // are slower than the interval asks.
        if (interval > 0 && pace > 0 && pace < 0.9 / interval) {
            text += "; timer at " + numberText(pace, 3) + " ticks/s of " + numberText(1.0 / interval, 3) + " asked";
            colour = colour == VAL_ERROR_COLOR ? colour : VAL_WARNING_COLOR;
        }
    }
    showStatus(PANEL_STATUS_READINGS, text, colour);
}
