// windows.h as the platform's Windows code includes it, and the one place
// that turns a Windows error code into the system's words. For the platform
// layer only (the loader, the simulated supply, the file calls): the
// application sees none of it.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

// The system's message for `code`, without its trailing full stop and line
// end; "error N" when the system has none.
std::string WindowsErrorText(DWORD code);
#endif
