// The operating system's file calls that railmon's log, its export, its
// device lock and the simulated supply's state file need, the same on POSIX
// and on Windows. A file is an int descriptor (on Windows the C runtime's,
// over the kernel's handle), so a stdio stream can be made of it.
//
// Every call that can fail says why in `why`, in the system's own words
// (strerror on POSIX, the system's message text on Windows).
#pragma once

#include <cstddef>
#include <cstdio>
#include <ctime>
#include <string>

// How OsOpenRegularFile opens.
enum {
    OS_READ = 0,       // for reading only
    OS_READ_WRITE = 1, // for reading and writing
    OS_CREATE = 2,     // created with `mode` when absent
    OS_CREATE_NEW = 4, // created with `mode`; fails when anything of that name is there
};

// What OsOpenRegularFile returns instead of a descriptor.
enum {
    OS_FAILED = -1,      // the system refused; `why` says why
    OS_ABSENT = -2,      // nothing of that name (only without OS_CREATE)
    OS_NOT_REGULAR = -3, // something other than a regular file is there; `why`
                         // says what: "it is a FIFO, not a regular file"
};

// Opens `path` only if it is a regular file: never through a symbolic link
// (on Windows a reparse point: link or junction), never blocking on a FIFO or
// a device, whatever lies there. With OS_CREATE a missing file is created
// with the permission bits `mode` (less the umask; ignored on Windows). A
// descriptor >= 0, or one of the values above. The descriptor is binary and
// not inherited by child processes.
int OsOpenRegularFile(const std::string& path, int how, unsigned mode, std::string& why);

// Creates `path` exclusively (nothing of that name may be there, so nothing
// planted under it is written through), for writing, permission bits 0600;
// its name is `prefix` with a unique ending, returned in `path`. A
// descriptor, or OS_FAILED.
int OsCreateUniqueFile(const std::string& prefix, std::string& path, std::string& why);

int OsClose(int fd);

// A stream over the descriptor, for writing, binary; it owns the descriptor
// from then on. Null with `why` when it cannot be made (the descriptor is
// then still the caller's).
std::FILE* OsWriteStream(int fd, std::string& why);

// What the system knows of a file.
struct OsFileFacts {
    long long size = 0;                       // [bytes]
    unsigned links = 1;                       // names it has; 0 once deleted while open
    unsigned mode = 0644;                     // permission bits (0644 on Windows)
    unsigned long long device = 0, inode = 0; // which file it is, with `device`
    bool regular = true;
    bool sameFile(const OsFileFacts& other) const { return device == other.device && inode == other.inode; }
};
bool OsFileFactsOf(int fd, OsFileFacts& facts, std::string& why);
// Of the name itself, never following a link; OS_ABSENT when nothing has
// that name, OS_FAILED with `why`, else 0.
int OsFileFactsAt(const std::string& path, OsFileFacts& facts, std::string& why);

// Reads or writes at a byte offset, leaving any file position alone; the
// count done (which may be short), or -1.
long long OsReadAt(int fd, void* data, std::size_t size, long long offset, std::string& why);
long long OsWriteAt(int fd, const void* data, std::size_t size, long long offset, std::string& why);

// Sets the file's end at `size` bytes.
bool OsCutBack(int fd, long long size, std::string& why);

// Returns once what was written to the file is on the disk: its data
// (OsSyncData), or its data and everything needed to find it (OsSyncAll).
void OsSyncData(int fd);
bool OsSyncAll(int fd, std::string& why);

// Sets the file's permission bits (nothing on Windows, which has none).
bool OsSetMode(int fd, unsigned mode, std::string& why);

// An exclusive advisory lock held as long as the descriptor is open (any
// descriptor of the file, read-only ones too, may take it). False when
// another process holds it; then `holderPid` is that process's number when
// the system tells, else 0. OsLock waits for the holder instead. On Windows
// the lock covers one byte far past any data, so reading and writing the
// file stay free for everyone while only another lock fails.
bool OsTryLock(int fd, long& holderPid);
bool OsLock(int fd);

// The name of the user running a process (this one for 0), or its number
// when it has no name; empty when it cannot be told.
std::string OsUserOfProcess(long pid);

// Moves `from` over `to`, replacing what was there, as one step; on Windows
// written through to the disk.
bool OsRename(const std::string& from, const std::string& to, std::string& why);
bool OsRemove(const std::string& path);

// Replaces the file at `path` with `text`: written to a unique file beside
// it, put on the disk first when `sync`, then renamed over it, so a reader
// sees the old file or the new one, never a part. The new file's permission
// bits are `mode`.
bool OsReplaceFile(const std::string& path, const std::string& text, unsigned mode, bool sync, std::string& why);

// Creates the directory and every missing parent, each with `mode`; true
// when it is there as a directory afterwards.
bool OsMakeDirectories(const std::string& dir, unsigned mode, std::string& why);

// The directory of `path` ("." when it names none).
std::string OsDirectoryOf(const std::string& path);

// The working directory, or empty when it cannot be told.
std::string OsCurrentDirectory();

// The machine's directory for the locks of devices, shared by every user:
// /run/lock (as serial-port programs keep theirs), else /var/lock; on
// Windows railmon's folder in the machine's program data (made when
// absent). Empty with `why` when there is none.
std::string OsDeviceLockDirectory(std::string& why);

// The user's directory for programs' configuration: $XDG_CONFIG_HOME when
// it is an absolute path, else ~/.config; on Windows the roaming
// application data (%APPDATA%). Not made; empty with `why` when none can be
// told.
std::string OsUserConfigDirectory(std::string& why);

// `when` as local time; false when it cannot be converted.
bool OsLocalTime(std::time_t when, std::tm& local);

unsigned long OsProcessId();

// The system's words for the last failed call of this thread.
std::string OsLastErrorText();
