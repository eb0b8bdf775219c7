// Preloaded into a run of railmon to set its wall clock back, as an operator
// or NTP might, without touching the machine's clock:
//   CLOCK_STEP_AFTER_MS  when, after the process started [ms]
//   CLOCK_STEP_BACK_S    by how much [s]
// Only the wall clock moves; the monotonic clock runs on undisturbed.
#include <chrono>
#include <cstdlib>
#include <ctime>

#include <dlfcn.h>
#include <sys/time.h>

namespace {

using ClockGettime = int (*)(clockid_t, timespec*);

ClockGettime realClockGettime()
{
    static const auto real = reinterpret_cast<ClockGettime>(dlsym(RTLD_NEXT, "clock_gettime"));
    return real;
}

long envLong(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::atol(value) : 0;
}

// Seconds to take off the wall clock now.
long stepNow()
{
    static timespec start = [] {
        timespec t{};
        realClockGettime()(CLOCK_MONOTONIC, &t);
        return t;
    }();
    timespec now{};
    realClockGettime()(CLOCK_MONOTONIC, &now);
    const long elapsedMs = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    return elapsedMs >= envLong("CLOCK_STEP_AFTER_MS") ? envLong("CLOCK_STEP_BACK_S") : 0;
}

[[maybe_unused]] const long started = stepNow();

} // namespace

extern "C" int clock_gettime(clockid_t clock, timespec* time)
{
    const int result = realClockGettime()(clock, time);
    if (result == 0 && (clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE))
        time->tv_sec -= stepNow();
    return result;
}

extern "C" int gettimeofday(struct timeval* time, void*)
{
    timespec now{};
    const int result = clock_gettime(CLOCK_REALTIME, &now);
    time->tv_sec = now.tv_sec;
    time->tv_usec = now.tv_nsec / 1000;
    return result;
}

extern "C" time_t time(time_t* out)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    if (out)
        *out = now.tv_sec;
    return now.tv_sec;
}
