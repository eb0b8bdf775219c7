// Loading a library at run time and finding its functions by exported name,
// under the Windows kernel's names. On Windows these are the real calls; on
// POSIX they stand on dlopen/dlsym/dlclose.
//
// File names on POSIX: a Windows name "X.dll" is looked for as "libX.so", so
// "TMI_API.dll" is found as "libTMI_API.so". A name without a directory is
// searched for, in this order, in
//   1. each absolute directory of LD_LIBRARY_PATH, read when the call is made
//      (so another implementation can be put in place without rebuilding),
//   2. the system's library directories: /usr/local/lib/<arch>,
//      /usr/local/lib, /usr/lib/<arch>, /usr/lib, /lib/<arch>, /lib,
//   3. the program's own fallback directories, found relative to the running
//      executable: the install's private library directory
//      (<prefix>/lib/<arch>/railmon beside <prefix>/bin), then the
//      executable's own directory (the build tree),
// and never in the working directory: empty or relative LD_LIBRARY_PATH
// entries, which the dynamic linker would resolve against the working
// directory, are skipped. The search is done here rather than by the dynamic
// linker, whose copy of LD_LIBRARY_PATH may still hold such entries. The
// first file found is the one loaded: one that cannot be loaded is reported,
// never passed over for a later one.
//
// On Windows the kernel's own calls are used, but LoadLibraryA is the safe
// search: a name without a directory is looked for only in the executable's
// directory and the system directory (System32), never in the working
// directory or along PATH, where the plain search would load a DLL planted
// under that name. Whatever the library needs is looked for there too.
#pragma once

#ifdef _WIN32
#include "os_windows.h"

// LoadLibraryExA with LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
// LOAD_LIBRARY_SEARCH_SYSTEM32; GetLastError() is 0 after a success.
HINSTANCE LoadLibraryFromAppOrSystemA(const char* fileName);
// Every LoadLibraryA after this header is the safe search.
#define LoadLibraryA LoadLibraryFromAppOrSystemA
#else

typedef void* HINSTANCE;
typedef void (*FARPROC)(void);
typedef unsigned long DWORD;
// windows.h has them as macros of these values.
enum : int { FALSE = 0, TRUE = 1 };

// Loads a library by file name; null when it cannot be loaded.
HINSTANCE LoadLibraryA(const char* fileName);
// The function exported under exactly `name`, or null when there is none.
FARPROC GetProcAddress(HINSTANCE library, const char* name);
// Unloads the library; nonzero on success, as on Windows.
int FreeLibrary(HINSTANCE library);

// The file a loaded library came from, terminated and cut to `size`; the
// length copied, 0 when there is none. As on Windows.
DWORD GetModuleFileNameA(HINSTANCE library, char* fileName, DWORD size);

// Why the last LoadLibraryA or GetProcAddress of this thread failed, in
// Windows' codes: ERROR_MOD_NOT_FOUND (not found), ERROR_BAD_EXE_FORMAT (not
// a library for this machine: another architecture, or no library at all),
// ERROR_PROC_NOT_FOUND (no such export); 0 after a success.
DWORD GetLastError(void);
enum : DWORD {
    ERROR_MOD_NOT_FOUND = 126,
    ERROR_PROC_NOT_FOUND = 127,
    ERROR_BAD_EXE_FORMAT = 193,
};

#endif

// The platform's own words for the last failure of LoadLibraryA or
// GetProcAddress on this thread (the dynamic linker's message, or the
// system's text for the error code); empty after a success. On Windows it
// is the text for GetLastError(), so it is asked for straight after the
// failure; a DLL of the other bitness (ERROR_BAD_EXE_FORMAT) is named as such.
const char* LastLoadErrorText(void);
