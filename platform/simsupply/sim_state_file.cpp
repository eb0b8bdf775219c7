#include "sim_state_file.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sim {

namespace {

constexpr char kHeader[] = "railmon-sim-state 1";
// A real state file is about 1 KiB; anything far larger is not one.
constexpr long long kMaxFileSize = 64 * 1024;

#ifdef _WIN32
constexpr const char* kSeparators = "/\\";
#else
constexpr const char* kSeparators = "/";
#endif

std::string directoryOf(const std::string& path)
{
    const auto slash = path.find_last_of(kSeparators);
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool withinRating(int channel, const Setpoint& set)
{
    const Rating& r = kRatings[channel - 1];
    return std::isfinite(set.volts) && std::isfinite(set.amps) && set.volts >= r.minVolts && set.volts <= r.maxVolts &&
        set.amps >= 0.0 && set.amps <= r.maxAmps;
}

// ---- The few file calls, on each system ------------------------------------

#ifdef _WIN32
// The system's words for the last failed call of this thread.
std::string lastError()
{
    const DWORD code = GetLastError();
    char* text = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string words = length > 0 && text ? std::string(text, length) : "error " + std::to_string(code);
    LocalFree(text);
    while (!words.empty() &&
           (words.back() == '\r' || words.back() == '\n' || words.back() == ' ' || words.back() == '.'))
        words.pop_back();
    return words;
}

bool isRoot(const std::string& dir)
{
    return dir.empty() || dir == "." || dir == "/" || dir == "\\" || (dir.size() == 2 && dir[1] == ':');
}

// Creates `dir` when nothing is there; otherwise says whether it is a directory.
bool makeDirectory(const std::string& dir, bool& isDirectory)
{
    const DWORD attributes = GetFileAttributesA(dir.c_str());
    isDirectory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return false;
    return CreateDirectoryA(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}
#else
std::string lastError()
{
    return std::strerror(errno);
}

bool isRoot(const std::string& dir)
{
    return dir.empty() || dir == "." || dir == "/";
}

// Creates `dir` when nothing is there; otherwise says whether it is a directory.
bool makeDirectory(const std::string& dir, bool& isDirectory)
{
    struct stat st = {};
    const bool there = stat(dir.c_str(), &st) == 0;
    isDirectory = there && S_ISDIR(st.st_mode);
    if (there || errno != ENOENT)
        return false;
    return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}
#endif

bool makeDirectories(const std::string& dir)
{
    if (isRoot(dir))
        return true;
    bool isDirectory = false;
    if (makeDirectory(dir, isDirectory) || isDirectory)
        return true;
    // Perhaps only its parent is missing.
    if (!makeDirectories(directoryOf(dir)))
        return false;
    return makeDirectory(dir, isDirectory) || isDirectory;
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
#ifdef _WIN32
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        result.absent = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
        if (!result.absent)
            result.problem = "cannot read: " + lastError();
        return result;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    LARGE_INTEGER size = {};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        result.problem = "not a regular file";
        return result;
    }
    if (size.QuadPart > kMaxFileSize) {
        CloseHandle(file);
        result.problem = "too large to be a state file";
        return result;
    }
    result.text.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    const bool read = ReadFile(file, result.text.data(), static_cast<DWORD>(result.text.size()), &got, nullptr);
    const std::string readError = read ? std::string() : lastError();
    CloseHandle(file);
    if (!read) {
        result.problem = "cannot read: " + readError;
        return result;
    }
    result.text.resize(got);
#else
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        result.absent = errno == ENOENT;
        if (!result.absent)
            result.problem = "cannot read: " + lastError();
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
    result.text.assign(static_cast<size_t>(st.st_size), '\0');
    const ssize_t got = read(fd, result.text.data(), result.text.size());
    const int readError = errno;
    close(fd);
    if (got < 0) {
        result.problem = std::string("cannot read: ") + std::strerror(readError);
        return result;
    }
    result.text.resize(static_cast<size_t>(got));
#endif
    return result;
}

// Writes `text` to a temporary file of its own (created exclusively, so
// nothing planted under its name is written through), puts it on the disk
// and only then moves it over `path`, so a crash at any moment leaves the old
// file or the new one. False with the reason.
bool replaceFile(const std::string& path, const std::string& text, std::string& problem)
{
#ifdef _WIN32
    std::string temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temp = path + "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
        file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (file == INVALID_HANDLE_VALUE) {
        problem = lastError();
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size() && FlushFileBuffers(file);
    problem = ok ? std::string() : lastError();
    CloseHandle(file);
    if (ok && !MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        problem = lastError();
    }
    if (!ok)
        DeleteFileA(temp.c_str());
    return ok;
#else
    std::string temp = path + ".XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        problem = lastError();
        return false;
    }
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    // On disk before the rename makes it the state file.
    const bool synced = written && fsync(fd) == 0;
    const int savedErrno = errno;
    close(fd);
    if (!synced || rename(temp.c_str(), path.c_str()) != 0) {
        problem = std::strerror(synced ? errno : savedErrno);
        unlink(temp.c_str());
        return false;
    }
    return true;
#endif
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
    if (!makeDirectories(directoryOf(path))) {
        if (problem)
            *problem = "cannot create its directory: " + lastError();
        return false;
    }

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
    if (std::string why; !replaceFile(path, text, why)) {
        if (problem)
            *problem = "cannot write: " + why;
        return false;
    }
    return true;
}

StateFileLock::StateFileLock(const std::string& path)
{
    if (!makeDirectories(directoryOf(path)))
        return;
    const std::string lockPath = path + ".lock";
#ifdef _WIN32
    HANDLE file = CreateFileA(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    OVERLAPPED whole = {};
    // Waits for the other holder, as flock does.
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        CloseHandle(file);
        return;
    }
    lock_ = reinterpret_cast<std::intptr_t>(file);
#else
    const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    if (flock(fd, LOCK_EX) != 0) {
        close(fd);
        return;
    }
    lock_ = fd;
#endif
}

StateFileLock::~StateFileLock()
{
    if (!held())
        return;
        // Closing releases the lock.
#ifdef _WIN32
    CloseHandle(reinterpret_cast<HANDLE>(lock_));
#else
    close(static_cast<int>(lock_));
#endif
}

} // namespace sim
