// railmon-plot on a log of a million records (250,000 ticks of four
// channels at 50 ms, CV and CC stretches): wall time and peak resident
// memory of one run per picture format.
//   build/bench/plot_million
#include "test_paths.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void writeLog(const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "w");
    std::fputs("#time\tch\tU\tI\tCV_CC\n", file);
    const double volts[4] = {12.0, -12.0, 5.0, -5.0};
    unsigned noise = 1;
    for (long tick = 0; tick < 250000; ++tick) {
        for (int ch = 1; ch <= 4; ++ch) {
            noise = noise * 1103515245u + 12345u;
            const double jitter = (int((noise >> 16) % 5) - 2) * 0.001;
            const int cc = ch == 3 && tick % 20000 < 4000;
            std::fprintf(file, "%ld\t%d\t%g\t%g\t%d\n", 1796791200L + tick / 20, ch,
                         volts[ch - 1] * (cc ? 0.8 : 1) + jitter, 0.1 * ch + jitter / 10, cc);
        }
    }
    std::fclose(file);
}

} // namespace

int main()
{
    const auto dir = std::filesystem::temp_directory_path() / "railmon-plot-bench";
    std::filesystem::create_directories(dir);
    const std::string log = (dir / "million.log").string();
    writeLog(log);
    std::printf("log: 1,000,000 records, %.1f MB\n", std::filesystem::file_size(log) / 1e6);
    const std::string plot = std::string(RAILMON_BIN_DIR) + "/railmon-plot";
    for (const char* format : {"png", "svg", "pdf"}) {
        const std::string out = (dir / (std::string("million.") + format)).string();
        const auto start = std::chrono::steady_clock::now();
        std::fflush(stdout);
        const pid_t pid = fork();
        if (pid == 0) {
            // The summary is part of the run; its table is not wanted here.
            if (!std::freopen("/dev/null", "w", stdout))
                _exit(126);
            execl(plot.c_str(), plot.c_str(), log.c_str(), "-o", out.c_str(), "--summary", static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("railmon-plot -o %-4s %.2f s, peak RSS %ld MB, exit %d, %.0f kB written\n", format, seconds,
                    usage.ru_maxrss / 1024, WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                    std::filesystem::exists(out) ? std::filesystem::file_size(out) / 1e3 : 0.0);
    }
    std::filesystem::remove_all(dir);
}
