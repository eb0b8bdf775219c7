#include "sim_state_file.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr char kHeader[] = "railmon-sim-state 1";
// A real state file is about 1 KiB; anything far larger is not one.
constexpr off_t kMaxFileSize = 64 * 1024;

std::string directoryOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool makeDirectories(const std::string& dir)
{
    if (dir.empty() || dir == "." || dir == "/")
        return true;
    struct stat st = {};
    if (stat(dir.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    if (!makeDirectories(directoryOf(dir)))
        return false;
    return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

bool withinRating(int channel, const Setpoint& set)
{
    const Rating& r = kRatings[channel - 1];
    return std::isfinite(set.volts) && std::isfinite(set.amps) && set.volts >= r.minVolts && set.volts <= r.maxVolts &&
        set.amps >= 0.0 && set.amps <= r.maxAmps;
}

} // namespace

std::string stateFilePath()
{
    if (const char* path = std::getenv("TMI_SIM_STATE"); path && *path)
        return path;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        return std::string(state) + "/railmon/tmi-sim.state";
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return std::string(home) + "/.local/state/railmon/tmi-sim.state";
    return {};
}

LoadedMemory loadMemory(const std::string& path)
{
    LoadedMemory result;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        // A file that is absent is a supply that was never set; one that is
        // there but cannot be read deserves a word.
        if (errno != ENOENT)
            result.problem = std::string("cannot read: ") + std::strerror(errno);
        return result;
    }
    struct stat st = {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        result.problem = "not a regular file";
        return result;
    }
    if (st.st_size > kMaxFileSize) {
        close(fd);
        result.problem = "too large to be a state file";
        return result;
    }
    std::string text(static_cast<size_t>(st.st_size), '\0');
    const ssize_t got = read(fd, text.data(), text.size());
    const int readError = errno;
    close(fd);
    if (got < 0) {
        result.problem = std::string("cannot read: ") + std::strerror(readError);
        return result;
    }
    text.resize(static_cast<size_t>(got));
    std::istringstream in(text);

    auto corrupt = [&](const std::string& why) {
        result.problem = "not a valid state file (" + why + ")";
        return result;
    };
    std::string line;
    if (!std::getline(in, line) || line != kHeader)
        return corrupt("unknown header");
    Memory memory;
    {
        std::getline(in, line);
        std::istringstream fields(line);
        std::string word, rest;
        int preset = 0;
        if (!(fields >> word >> preset) || word != "active" || (fields >> rest) || preset < kFirstPreset ||
            preset >= kFirstPreset + kPresets)
            return corrupt("bad active preset");
        memory.activePreset = preset;
    }
    bool seen[kPresets][kChannels] = {};
    int count = 0;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        std::istringstream fields(line);
        int preset = 0, channel = 0;
        Setpoint set;
        std::string rest;
        if (!(fields >> preset >> channel >> set.volts >> set.amps) || (fields >> rest))
            return corrupt("bad setpoint line");
        if (preset < kFirstPreset || preset >= kFirstPreset + kPresets || channel < 1 || channel > kChannels ||
            !withinRating(channel, set))
            return corrupt("setpoint out of range");
        bool& done = seen[preset - kFirstPreset][channel - 1];
        if (done)
            return corrupt("setpoint repeated");
        done = true;
        memory.presets[preset - kFirstPreset][channel - 1] = set;
        ++count;
    }
    if (count != kPresets * kChannels)
        return corrupt("setpoints missing");
    result.memory = memory;
    return result;
}

bool saveMemory(const std::string& path, const Memory& memory, std::string* problem)
{
    auto fail = [&](const char* what) {
        if (problem)
            *problem = std::string(what) + ": " + std::strerror(errno);
        return false;
    };
    if (!makeDirectories(directoryOf(path)))
        return fail("cannot create its directory");

    std::string text = std::string(kHeader) + "\n";
    text += "active " + std::to_string(memory.activePreset) + "\n";
    char line[128];
    for (int p = 0; p < kPresets; ++p) {
        for (int ch = 0; ch < kChannels; ++ch) {
            const Setpoint& set = memory.presets[p][ch];
            std::snprintf(line, sizeof line, "%d %d %.17g %.17g\n", p + kFirstPreset, ch + 1, set.volts, set.amps);
            text += line;
        }
    }

    std::string temp = path + ".XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return fail("cannot write");
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    // On disk before the rename makes it the state file.
    const bool synced = written && fsync(fd) == 0;
    const int savedErrno = errno;
    close(fd);
    if (!synced || rename(temp.c_str(), path.c_str()) != 0) {
        errno = synced ? errno : savedErrno;
        const bool ok = fail("cannot write");
        unlink(temp.c_str());
        return ok;
    }
    return true;
}

StateFileLock::StateFileLock(const std::string& path)
{
    if (!makeDirectories(directoryOf(path)))
        return;
    fd_ = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ >= 0 && flock(fd_, LOCK_EX) != 0) {
        close(fd_);
        fd_ = -1;
    }
}

StateFileLock::~StateFileLock()
{
    if (fd_ >= 0)
        close(fd_); // releases the lock
}

} // namespace sim
