#include "os_windows.h"
#include "osfile.h"

#include <direct.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

std::string WindowsErrorText(DWORD code)
{
    char* text = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string words = length > 0 && text ? std::string(text, length) : "error " + std::to_string(code);
    LocalFree(text);
    while (!words.empty() && (std::isspace(static_cast<unsigned char>(words.back())) || words.back() == '.'))
        words.pop_back();
    return words;
}

namespace {

std::string lastError()
{
    return WindowsErrorText(GetLastError());
}

HANDLE osHandle(int fd)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// What a name that is not a plain file is, from its attributes and type.
const char* kindOf(DWORD attributes, DWORD type)
{
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return "a symbolic link or junction";
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return "a directory";
    if (type == FILE_TYPE_PIPE)
        return "a pipe";
    if (type == FILE_TYPE_CHAR)
        return "a device";
    return "not a regular file";
}

int notRegular(DWORD attributes, DWORD type, std::string& why)
{
    why = std::string("it is ") + kindOf(attributes, type) + ", not a regular file";
    return OS_NOT_REGULAR;
}

// A descriptor of the C runtime over the handle, which it then owns.
int descriptorOf(HANDLE file, std::string& why)
{
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), 0);
    if (fd < 0) {
        why = std::strerror(errno);
        CloseHandle(file);
        return OS_FAILED;
    }
    _setmode(fd, _O_BINARY);
    return fd;
}

OVERLAPPED at(long long offset)
{
    OVERLAPPED where = {};
    where.Offset = static_cast<DWORD>(offset);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return where;
}

// Windows' locks are mandatory for the bytes they cover: a lock on one byte
// far past any data makes another lock fail while reading and writing the
// data stay free.
bool lockFarByte(HANDLE file, DWORD flags)
{
    OVERLAPPED farByte = at(0x7FFFFFFFLL << 32);
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | flags, 0, 1, 0, &farByte) != 0;
}

void factsOf(const BY_HANDLE_FILE_INFORMATION& info, DWORD type, OsFileFacts& facts)
{
    facts.size = static_cast<long long>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    facts.links = info.nNumberOfLinks;
    facts.mode = 0644;
    facts.device = info.dwVolumeSerialNumber;
    facts.inode = static_cast<unsigned long long>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    facts.regular = type == FILE_TYPE_DISK &&
        !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
}

bool isRoot(const std::string& dir)
{
    return dir.empty() || dir == "." || dir == "/" || dir == "\\" || (dir.size() == 2 && dir[1] == ':');
}

} // namespace

int OsOpenRegularFile(const std::string& path, int how, unsigned, std::string& why)
{
    const DWORD named = GetFileAttributesA(path.c_str());
    if (named != INVALID_FILE_ATTRIBUTES && (named & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return notRegular(named, FILE_TYPE_DISK, why);
    const DWORD access = how & OS_READ_WRITE ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    // A reparse point is opened as itself, never followed, and refused below.
    const DWORD disposition = how & OS_CREATE_NEW ? CREATE_NEW : how & OS_CREATE ? OPEN_ALWAYS : OPEN_EXISTING;
    HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (disposition == OPEN_EXISTING && (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND))
            return OS_ABSENT;
        why = WindowsErrorText(code);
        return OS_FAILED;
    }
    // The same check on what was opened, in case the name changed between.
    BY_HANDLE_FILE_INFORMATION info = {};
    const DWORD type = GetFileType(file);
    if (!GetFileInformationByHandle(file, &info))
        info.dwFileAttributes = FILE_ATTRIBUTE_DEVICE;
    if (type != FILE_TYPE_DISK ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))) {
        CloseHandle(file);
        return notRegular(info.dwFileAttributes, type, why);
    }
    return descriptorOf(file, why);
}

int OsCreateUniqueFile(const std::string& prefix, std::string& path, std::string& why)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        path = prefix + "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
        file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (file == INVALID_HANDLE_VALUE) {
        why = lastError();
        return OS_FAILED;
    }
    return descriptorOf(file, why);
}

int OsClose(int fd)
{
    return _close(fd);
}

std::FILE* OsWriteStream(int fd, std::string& why)
{
    std::FILE* stream = _fdopen(fd, "wb");
    if (!stream)
        why = std::strerror(errno);
    return stream;
}

bool OsFileFactsOf(int fd, OsFileFacts& facts, std::string& why)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    HANDLE file = osHandle(fd);
    if (!GetFileInformationByHandle(file, &info)) {
        why = lastError();
        return false;
    }
    factsOf(info, GetFileType(file), facts);
    return true;
}

int OsFileFactsAt(const std::string& path, OsFileFacts& facts, std::string& why)
{
    // No access asked: only what the system knows of the name itself.
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return OS_ABSENT;
        why = WindowsErrorText(code);
        return OS_FAILED;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool known = GetFileInformationByHandle(file, &info);
    const DWORD type = GetFileType(file);
    if (!known)
        why = lastError();
    CloseHandle(file);
    if (!known)
        return OS_FAILED;
    factsOf(info, type, facts);
    return 0;
}

long long OsReadAt(int fd, void* data, std::size_t size, long long offset, std::string& why)
{
    OVERLAPPED from = at(offset);
    DWORD got = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!ReadFile(osHandle(fd), data, chunk, &got, &from)) {
        if (GetLastError() == ERROR_HANDLE_EOF)
            return 0;
        why = lastError();
        return -1;
    }
    return got;
}

long long OsWriteAt(int fd, const void* data, std::size_t size, long long offset, std::string& why)
{
    OVERLAPPED to = at(offset);
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!WriteFile(osHandle(fd), data, chunk, &written, &to)) {
        why = lastError();
        return -1;
    }
    return written;
}

bool OsCutBack(int fd, long long size, std::string& why)
{
    LARGE_INTEGER end = {};
    end.QuadPart = size;
    HANDLE file = osHandle(fd);
    if (SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file))
        return true;
    why = lastError();
    return false;
}

void OsSyncData(int fd)
{
    FlushFileBuffers(osHandle(fd));
}

bool OsSyncAll(int fd, std::string& why)
{
    if (FlushFileBuffers(osHandle(fd)))
        return true;
    why = lastError();
    return false;
}

bool OsSetMode(int, unsigned, std::string&)
{
    return true;
}

bool OsTryLock(int fd, long& holderPid)
{
    holderPid = 0;
    return lockFarByte(osHandle(fd), LOCKFILE_FAIL_IMMEDIATELY);
}

bool OsLock(int fd)
{
    return lockFarByte(osHandle(fd), 0);
}

std::string OsUserOfProcess(long pid)
{
    if (pid != 0)
        return {};
    char name[256] = {};
    DWORD size = sizeof name;
    return GetUserNameA(name, &size) ? std::string(name) : std::string();
}

bool OsRename(const std::string& from, const std::string& to, std::string& why)
{
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    why = lastError();
    return false;
}

bool OsRemove(const std::string& path)
{
    return DeleteFileA(path.c_str()) != 0;
}

bool OsReplaceFile(const std::string& path, const std::string& text, unsigned, bool sync, std::string& why)
{
    std::string temporary;
    const int fd = OsCreateUniqueFile(path, temporary, why);
    if (fd < 0)
        return false;
    bool ok = OsWriteAt(fd, text.data(), text.size(), 0, why) == static_cast<long long>(text.size());
    if (!ok && why.empty())
        why = "short write";
    ok = ok && (!sync || OsSyncAll(fd, why));
    _close(fd);
    ok = ok && OsRename(temporary, path, why);
    if (!ok)
        DeleteFileA(temporary.c_str());
    return ok;
}

bool OsMakeDirectories(const std::string& dir, unsigned mode, std::string& why)
{
    if (isRoot(dir))
        return true;
    const DWORD attributes = GetFileAttributesA(dir.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return true;
        why = dir + " is not a directory";
        return false;
    }
    // Perhaps only its parent is missing.
    if (!OsMakeDirectories(OsDirectoryOf(dir), mode, why))
        return false;
    if (CreateDirectoryA(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
        return true;
    why = lastError();
    return false;
}

std::string OsDirectoryOf(const std::string& path)
{
    const auto slash = path.find_last_of("/\\");
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string OsCurrentDirectory()
{
    char cwd[MAX_PATH + 1];
    return _getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string();
}

std::string OsDeviceLockDirectory(std::string& why)
{
    // Every user may create files in the machine's program data, and only
    // the creator may delete them.
    const char* data = std::getenv("ProgramData");
    if (!data || !*data) {
        why = "no folder for the machine's program data (ProgramData is not set)";
        return {};
    }
    const std::string dir = std::string(data) + "\\railmon";
    if (!OsMakeDirectories(dir, 0755, why))
        return {};
    return dir;
}

std::string OsUserConfigDirectory(std::string& why)
{
    const char* data = std::getenv("APPDATA");
    if (!data || !*data) {
        why = "no folder for the user's application data (APPDATA is not set)";
        return {};
    }
    return data;
}

bool OsLocalTime(std::time_t when, std::tm& local)
{
    return localtime_s(&local, &when) == 0;
}

unsigned long OsProcessId()
{
    return GetCurrentProcessId();
}

std::string OsLastErrorText()
{
    return lastError();
}
