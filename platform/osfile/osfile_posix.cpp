#include "osfile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

std::string errnoText(int error)
{
    return std::strerror(error);
}

const char* kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISLNK(mode))
        return "a symbolic link";
    return "not a regular file";
}

int notRegular(mode_t mode, std::string& why)
{
    why = std::string("it is ") + kindOf(mode) + ", not a regular file";
    return OS_NOT_REGULAR;
}

void factsOf(const struct stat& st, OsFileFacts& facts)
{
    facts.size = static_cast<long long>(st.st_size);
    facts.links = static_cast<unsigned>(st.st_nlink);
    facts.mode = static_cast<unsigned>(st.st_mode & 07777);
    facts.device = static_cast<unsigned long long>(st.st_dev);
    facts.inode = static_cast<unsigned long long>(st.st_ino);
    facts.regular = S_ISREG(st.st_mode);
}

// The process holding a lock on the file, from the kernel's list of locks
// (/proc/locks: "1: FLOCK  ADVISORY  WRITE <pid> <major>:<minor>:<inode> ...",
// the device's numbers in hex); 0 when it is not there.
long lockHolder(int fd)
{
    struct stat st = {};
    if (fstat(fd, &st) != 0)
        return 0;
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, type, advisory, access, file;
        long pid = 0;
        // Waiters are listed as "1: -> FLOCK ...": not holders.
        if (!(fields >> number >> type) || type == "->" || !(fields >> advisory >> access >> pid >> file))
            continue;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(file.c_str(), "%x:%x:%llu", &major, &minor, &inode) == 3 && inode == st.st_ino &&
            major == ::major(st.st_dev) && minor == ::minor(st.st_dev))
            return pid;
    }
    return 0;
}

} // namespace

int OsOpenRegularFile(const std::string& path, int how, unsigned mode, std::string& why)
{
    struct stat st = {};
    if (lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return notRegular(st.st_mode, why);
    // O_NONBLOCK: a FIFO put there between the look and the open must not
    // hold the program up; it is refused below like any other.
    int flags = (how & OS_READ_WRITE ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (how & (OS_CREATE | OS_CREATE_NEW))
        flags |= O_CREAT;
    if (how & OS_CREATE_NEW)
        flags |= O_EXCL;
    const int fd = open(path.c_str(), flags, static_cast<mode_t>(mode));
    if (fd < 0) {
        if (errno == ELOOP)
            return notRegular(S_IFLNK, why);
        if (errno == ENOENT && !(how & (OS_CREATE | OS_CREATE_NEW)))
            return OS_ABSENT;
        why = errnoText(errno);
        return OS_FAILED;
    }
    // The same check on what was opened, in case the name changed between.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return notRegular(st.st_mode, why);
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

int OsCreateUniqueFile(const std::string& prefix, std::string& path, std::string& why)
{
    path = prefix + ".XXXXXX";
    const int fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0)
        why = errnoText(errno);
    return fd < 0 ? OS_FAILED : fd;
}

int OsClose(int fd)
{
    return close(fd);
}

std::FILE* OsWriteStream(int fd, std::string& why)
{
    std::FILE* stream = fdopen(fd, "w");
    if (!stream)
        why = errnoText(errno);
    return stream;
}

bool OsFileFactsOf(int fd, OsFileFacts& facts, std::string& why)
{
    struct stat st = {};
    if (fstat(fd, &st) != 0) {
        why = errnoText(errno);
        return false;
    }
    factsOf(st, facts);
    return true;
}

int OsFileFactsAt(const std::string& path, OsFileFacts& facts, std::string& why)
{
    struct stat st = {};
    if (lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return OS_ABSENT;
        why = errnoText(errno);
        return OS_FAILED;
    }
    factsOf(st, facts);
    return 0;
}

long long OsReadAt(int fd, void* data, std::size_t size, long long offset, std::string& why)
{
    const ssize_t n = pread(fd, data, size, static_cast<off_t>(offset));
    if (n < 0)
        why = errnoText(errno);
    return n;
}

long long OsWriteAt(int fd, const void* data, std::size_t size, long long offset, std::string& why)
{
    const ssize_t n = pwrite(fd, data, size, static_cast<off_t>(offset));
    if (n < 0)
        why = errnoText(errno);
    return n;
}

bool OsCutBack(int fd, long long size, std::string& why)
{
    if (ftruncate(fd, static_cast<off_t>(size)) == 0)
        return true;
    why = errnoText(errno);
    return false;
}

void OsSyncData(int fd)
{
    fdatasync(fd);
}

bool OsSyncAll(int fd, std::string& why)
{
    if (fsync(fd) == 0)
        return true;
    why = errnoText(errno);
    return false;
}

bool OsSetMode(int fd, unsigned mode, std::string& why)
{
    if (fchmod(fd, static_cast<mode_t>(mode)) == 0)
        return true;
    why = errnoText(errno);
    return false;
}

// flock, not fcntl's record locks: those belong to the process, so closing
// any other descriptor of the file would drop them, and a second open in the
// same process would take the lock again instead of being refused.
bool OsTryLock(int fd, long& holderPid)
{
    holderPid = 0;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    holderPid = lockHolder(fd);
    return false;
}

bool OsLock(int fd)
{
    int result = 0;
    while ((result = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    return result == 0;
}

std::string OsUserOfProcess(long pid)
{
    uid_t uid = getuid();
    if (pid != 0) {
        struct stat st = {};
        if (stat(("/proc/" + std::to_string(pid)).c_str(), &st) != 0)
            return {};
        uid = st.st_uid;
    }
    struct passwd entry = {}, *found = nullptr;
    char buffer[4096];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name)
        return found->pw_name;
    return std::to_string(uid);
}

bool OsRename(const std::string& from, const std::string& to, std::string& why)
{
    if (rename(from.c_str(), to.c_str()) == 0)
        return true;
    why = errnoText(errno);
    return false;
}

bool OsRemove(const std::string& path)
{
    return unlink(path.c_str()) == 0;
}

bool OsReplaceFile(const std::string& path, const std::string& text, unsigned mode, bool sync, std::string& why)
{
    std::string temporary;
    const int fd = OsCreateUniqueFile(path, temporary, why);
    if (fd < 0)
        return false;
    bool ok = (mode == 0600 || OsSetMode(fd, mode, why));
    if (ok && write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        why = errno ? errnoText(errno) : "short write";
        ok = false;
    }
    ok = ok && (!sync || OsSyncAll(fd, why));
    if (close(fd) != 0 && ok) {
        why = errnoText(errno);
        ok = false;
    }
    ok = ok && OsRename(temporary, path, why);
    if (!ok)
        unlink(temporary.c_str());
    return ok;
}

bool OsMakeDirectories(const std::string& dir, unsigned mode, std::string& why)
{
    if (dir.empty() || dir == "." || dir == "/")
        return true;
    struct stat st = {};
    if (stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        why = dir + " is not a directory";
        return false;
    }
    if (errno != ENOENT) {
        why = errnoText(errno);
        return false;
    }
    // Perhaps only its parent is missing.
    if (!OsMakeDirectories(OsDirectoryOf(dir), mode, why))
        return false;
    if (mkdir(dir.c_str(), static_cast<mode_t>(mode)) == 0 || errno == EEXIST)
        return true;
    why = errnoText(errno);
    return false;
}

std::string OsDirectoryOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string OsCurrentDirectory()
{
    char cwd[4096];
    return getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string();
}

std::string OsDeviceLockDirectory(std::string& why)
{
    for (const char* dir : {"/run/lock", "/var/lock"}) {
        struct stat st = {};
        if (stat(dir, &st) == 0 && S_ISDIR(st.st_mode))
            return dir;
    }
    why = "neither /run/lock nor /var/lock is a directory";
    return {};
}

std::string OsUserConfigDirectory(std::string& why)
{
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the XDG base
    // directory rules say.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        return xdg;
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return std::string(home) + "/.config";
    why = "neither XDG_CONFIG_HOME nor HOME names a directory";
    return {};
}

bool OsLocalTime(std::time_t when, std::tm& local)
{
    return localtime_r(&when, &local) != nullptr;
}

unsigned long OsProcessId()
{
    return static_cast<unsigned long>(getpid());
}

std::string OsLastErrorText()
{
    return errnoText(errno);
}
