#include "device_lock.h"

#include "osfile.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

namespace {

// A device address as a part of a file name.
std::string fileNamePart(const char* address)
{
    std::string name = address;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

std::string holderText(long pid, const std::string& user)
{
    return "process " + std::to_string(pid) + (user.empty() ? std::string() : " of user " + user);
}

// Who holds the lock: the system's word for the process when it has one,
// else what the holder wrote into the file ("<pid> <user>").
std::string holderOf(int fd, long pid)
{
    if (pid > 0)
        return holderText(pid, OsUserOfProcess(pid));
    char text[128] = {};
    std::string why;
    const long long got = OsReadAt(fd, text, sizeof text - 1, 0, why);
    std::istringstream fields(std::string(text, got > 0 ? static_cast<size_t>(got) : 0));
    long written = 0;
    std::string user;
    if (!(fields >> written) || written <= 0)
        return "?";
    fields >> user;
    return holderText(written, user);
}

} // namespace

DeviceLock lockDevice(const char* address)
{
    DeviceLock lock;
    std::string dir;
    if (const char* chosen = std::getenv("RAILMON_LOCK_DIR"); chosen && *chosen)
        dir = chosen;
    else if (dir = OsDeviceLockDirectory(lock.problem); dir.empty())
        return lock;
    const std::string path = dir + "/railmon-" + fileNamePart(address) + ".lock";
    std::string why;
    // Readable by all, so another user's railmon can take the lock once this
    // one has gone; never opened through a link, so nobody can redirect it.
    int fd = OsOpenRegularFile(path, OS_READ_WRITE | OS_CREATE, 0644, why);
    const bool writable = fd >= 0;
    if (fd == OS_FAILED)
        fd = OsOpenRegularFile(path, OS_READ, 0, why);
    if (fd < 0) {
        lock.problem = path + ": " + why;
        return lock;
    }
    long holderPid = 0;
    if (!OsTryLock(fd, holderPid)) {
        lock.state = DeviceLock::InUse;
        lock.holder = holderOf(fd, holderPid);
        OsClose(fd);
        return lock;
    }
    // Who holds it, for a second railmon where the system cannot tell;
    // another user's file keeps its owner's words, which the system's
    // answer then replaces.
    if (writable) {
        const std::string holder = std::to_string(OsProcessId()) + " " + OsUserOfProcess(0) + "\n";
        if (OsWriteAt(fd, holder.data(), holder.size(), 0, why) > 0)
            OsCutBack(fd, static_cast<long long>(holder.size()), why);
    }
    lock.state = DeviceLock::Held;
    return lock; // held by the open descriptor until the process ends
}
