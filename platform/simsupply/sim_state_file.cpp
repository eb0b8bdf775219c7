#include "sim_state_file.h"

#include "osfile.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale>
#include <sstream>
#include <string>

namespace sim {

namespace {

constexpr char kHeader[] = "railmon-sim-state 1";
// A real state file is about 1 KiB; anything far larger is not one.
constexpr long long kMaxFileSize = 64 * 1024;

bool withinRating(int channel, const Setpoint& set)
{
    const Rating& r = kRatings[channel - 1];
    return std::isfinite(set.volts) && std::isfinite(set.amps) && set.volts >= r.minVolts && set.volts <= r.maxVolts &&
        set.amps >= 0.0 && set.amps <= r.maxAmps;
}

struct FileText {
    bool absent = false;
    std::string problem; // why a file that is there was not read
    std::string text;
};

// Reads a regular file of at most kMaxFileSize bytes, as bytes: a FIFO, a
// device or anything huge named there is refused without blocking or reading it.
FileText readSmallRegularFile(const std::string& path)
{
    FileText result;
    std::string why;
    const int fd = OsOpenRegularFile(path, OS_READ, 0, why);
    if (fd < 0) {
        result.absent = fd == OS_ABSENT;
        if (fd == OS_NOT_REGULAR)
            result.problem = "not a regular file";
        else if (fd == OS_FAILED)
            result.problem = "cannot read: " + why;
        return result;
    }
    OsFileFacts facts;
    if (!OsFileFactsOf(fd, facts, why))
        result.problem = "cannot read: " + why;
    else if (facts.size > kMaxFileSize)
        result.problem = "too large to be a state file";
    if (!result.problem.empty()) {
        OsClose(fd);
        return result;
    }
    result.text.assign(static_cast<size_t>(facts.size), '\0');
    const long long got = OsReadAt(fd, result.text.data(), result.text.size(), 0, why);
    OsClose(fd);
    if (got < 0) {
        result.problem = "cannot read: " + why;
        result.text.clear();
        return result;
    }
    result.text.resize(static_cast<size_t>(got));
    return result;
}

} // namespace

std::string stateFilePath()
{
    if (const char* path = std::getenv("TMI_SIM_STATE"); path && *path)
        return path;
#ifdef _WIN32
    if (const char* local = std::getenv("LOCALAPPDATA"); local && *local)
        return std::string(local) + "\\railmon\\tmi-sim.state";
#else
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        return std::string(state) + "/railmon/tmi-sim.state";
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return std::string(home) + "/.local/state/railmon/tmi-sim.state";
#endif
    return {};
}

LoadedMemory loadMemory(const std::string& path)
{
    LoadedMemory result;
    // A file that is absent is a supply that was never set; one that is
    // there but cannot be read deserves a word.
    const FileText file = readSmallRegularFile(path);
    if (file.absent || !file.problem.empty()) {
        result.problem = file.problem;
        return result;
    }
    const std::string& text = file.text;
    std::istringstream in(text);
    in.imbue(std::locale::classic());

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
        fields.imbue(std::locale::classic());
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
    if (std::string why; !OsMakeDirectories(OsDirectoryOf(path), 0700, why)) {
        if (problem)
            *problem = "cannot create its directory: " + why;
        return false;
    }

    std::string text = std::string(kHeader) + "\n";
    text += "active " + std::to_string(memory.activePreset) + "\n";
    // With a point whatever the process locale: a library in the same
    // process may set its own.
    auto number = [](double value) {
        char digits[32];
        return std::string(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
    };
    for (int p = 0; p < kPresets; ++p) {
        for (int ch = 0; ch < kChannels; ++ch) {
            const Setpoint& set = memory.presets[p][ch];
            text += std::to_string(p + kFirstPreset) + " " + std::to_string(ch + 1) + " " + number(set.volts) + " " +
                number(set.amps) + "\n";
        }
    }
    // Created exclusively and renamed over the old one, so a crash at any
    // moment leaves either the old memory or the new one.
    if (std::string why; !OsReplaceFile(path, text, 0600, true, why)) {
        if (problem)
            *problem = "cannot write: " + why;
        return false;
    }
    return true;
}

StateFileLock::StateFileLock(const std::string& path)
{
    std::string why;
    if (!OsMakeDirectories(OsDirectoryOf(path), 0700, why))
        return;
    const int fd = OsOpenRegularFile(path + ".lock", OS_READ_WRITE | OS_CREATE, 0600, why);
    if (fd < 0)
        return;
    // Waits for the other holder.
    if (!OsLock(fd)) {
        OsClose(fd);
        return;
    }
    lock_ = fd;
}

StateFileLock::~StateFileLock()
{
    // Closing releases the lock.
    if (held())
        OsClose(lock_);
}

} // namespace sim
