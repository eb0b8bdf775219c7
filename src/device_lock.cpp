#include "device_lock.h"

#include "osfile.h"

#include <cctype>
#include <cstdio>

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

} // namespace

bool lockDevice(const char* address, std::string& holder)
{
    std::string why;
    const std::string dir = OsUserRuntimeDirectory(why);
    if (dir.empty()) {
        std::printf("Cannot check for another railmon on %s: %s\n", address, why.c_str());
        return true;
    }
    const std::string path = dir + "/railmon-" + fileNamePart(address) + ".lock";
    const int fd = OsOpenRegularFile(path, OS_READ_WRITE | OS_CREATE, 0600, why);
    if (fd < 0) {
        std::printf("Cannot check for another railmon on %s: %s: %s\n", address, path.c_str(), why.c_str());
        return true;
    }
    long holderPid = 0;
    if (OsTryLock(fd, holderPid)) {
        // The holder's process number, for a second railmon to name where
        // the system cannot tell it.
        const std::string pid = std::to_string(OsProcessId());
        const long long written = OsWriteAt(fd, pid.data(), pid.size(), 0, why);
        if (written > 0)
            OsCutBack(fd, written, why);
        return true; // held by the open descriptor until the process ends
    }
    char text[32] = {};
    const long long got = OsReadAt(fd, text, sizeof text - 1, 0, why);
    holder = holderPid ? std::to_string(holderPid) : got > 0 ? std::string(text, static_cast<size_t>(got)) : "?";
    OsClose(fd);
    return false;
}
