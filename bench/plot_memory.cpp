// railmon-plot on a log of about a gigabyte (four channels at 50 ms for about
// five days, with noise, CC stretches and a missing minute a day): peak
// resident memory and megabytes of log read per second, for a picture and
// the summary in one run.
//   build/bench/plot_memory [MB [RAILMON-PLOT...]]
// With other railmon-plot executables named, each is run on the same log
// (an older build, to compare).
#include "test_paths.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr long long kStart = 1796791200; // 2026-12-09 [s since the epoch]
constexpr int kTicksPerSecond = 20;      // the panel's fastest timer, 50 ms
constexpr long kTicksPerDay = 86400L * kTicksPerSecond;

// As railmon writes its records: "%lu\t%d\t%g\t%g\t%d\n".
char* record(char* at, long long time, int channel, double volts, double amperes, int code)
{
    at = std::to_chars(at, at + 20, time).ptr;
    *at++ = '\t';
    at = std::to_chars(at, at + 4, channel).ptr;
    *at++ = '\t';
    at = std::to_chars(at, at + 24, volts, std::chars_format::general, 6).ptr;
    *at++ = '\t';
    at = std::to_chars(at, at + 24, amperes, std::chars_format::general, 6).ptr;
    *at++ = '\t';
    at = std::to_chars(at, at + 8, code).ptr;
    *at++ = '\n';
    return at;
}

// Returns the records written.
long long writeLog(const std::string& path, long long bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::fputs("#time\tch\tU\tI\tCV_CC\n", file);
    const double volts[4] = {12.0, -12.0, 5.0, -5.0};
    std::vector<char> buffer(1 << 20);
    unsigned noise = 1;
    long long written = 0, records = 0;
    for (long tick = 0; written < bytes; ++tick) {
        // A minute missing once a day.
        if (tick % kTicksPerDay < 60 * kTicksPerSecond && tick >= kTicksPerDay)
            continue;
        char* at = buffer.data();
        for (int ch = 1; ch <= 4; ++ch) {
            noise = noise * 1103515245u + 12345u;
            const double jitter = (int((noise >> 16) % 5) - 2) * 0.001;
            const int cc = ch == 3 && tick % 20000 < 4000;
            at = record(at, kStart + tick / kTicksPerSecond, ch, volts[ch - 1] * (cc ? 0.8 : 1) + jitter,
                        0.1 * ch + jitter / 10, cc);
            ++records;
        }
        std::fwrite(buffer.data(), 1, at - buffer.data(), file);
        written += at - buffer.data();
    }
    std::fclose(file);
    return records;
}

} // namespace

int main(int argc, char* argv[])
{
    const long long megabytes = argc > 1 ? std::atoll(argv[1]) : 1000;
    std::vector<std::string> plots;
    for (int i = 2; i < argc; ++i)
        plots.push_back(argv[i]);
    if (plots.empty())
        plots.push_back(std::string(RAILMON_BIN_DIR) + "/railmon-plot");

    const auto dir = std::filesystem::temp_directory_path() / ("railmon-plot-memory-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string log = (dir / "railmon.log").string();
    const long long records = writeLog(log, megabytes * 1000000);
    const double size = std::filesystem::file_size(log) / 1e6; // [MB]
    std::printf("log: %lld records, %.0f MB\n", records, size);
    const std::string out = (dir / "railmon.png").string();
    for (const std::string& plot : plots) {
        std::filesystem::remove(out);
        std::fflush(stdout);
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            // The summary is part of the run; its table is not wanted here.
            if (!std::freopen("/dev/null", "w", stdout))
                _exit(126);
            setenv("XDG_RUNTIME_DIR", dir.c_str(), 1); // as in an operator's session
            // The CC code named, so a build without its panel file beside it does the same work.
            execl(plot.c_str(), plot.c_str(), log.c_str(), "-o", out.c_str(), "--summary", "--cc-code", "1",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("plot-memory %s: %.0f MB in %.1f s = %.0f MB/s, peak RSS %ld MiB, exit %d, %.0f kB written\n",
                    plot.c_str(), size, seconds, size / seconds, usage.ru_maxrss / 1024,
                    WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                    std::filesystem::exists(out) ? std::filesystem::file_size(out) / 1e3 : 0.0);
    }
    std::filesystem::remove_all(dir);
}
