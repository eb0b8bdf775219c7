#include "dynload.h"

#include <string>

namespace {

thread_local std::string tLastErrorText;

// Why the loader refused, in words a user can act on.
const char* advice(DWORD code)
{
    switch (code) {
    case ERROR_BAD_EXE_FORMAT:
        return sizeof(void*) == 8 ? "not a 64-bit (x86-64) DLL: this program is 64-bit and cannot load a 32-bit one"
                                  : "not a 32-bit (x86) DLL: this program is 32-bit and cannot load a 64-bit one";
    case ERROR_MOD_NOT_FOUND:
        return "it, or a DLL it needs, is neither beside the program nor in the system directory";
    default:
        return nullptr;
    }
}

} // namespace

HINSTANCE LoadLibraryFromAppOrSystemA(const char* fileName)
{
    HINSTANCE library =
        LoadLibraryExA(fileName, nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library)
        SetLastError(0);
    return library;
}

const char* LastLoadErrorText(void)
{
    const DWORD code = GetLastError();
    tLastErrorText.clear();
    if (code == 0)
        return tLastErrorText.c_str();
    tLastErrorText = WindowsErrorText(code);
    // The code is said once, at the end.
    if (tLastErrorText == "error " + std::to_string(code))
        tLastErrorText.clear();
    if (const char* words = advice(code))
        tLastErrorText += (tLastErrorText.empty() ? "" : "; ") + std::string(words);
    tLastErrorText += " (error " + std::to_string(code) + ")";
    // Asking must not change the answer.
    SetLastError(code);
    return tLastErrorText.c_str();
}
