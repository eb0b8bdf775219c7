// Whether the windowing platform that Qt would pick can show a window at all.
// Qt aborts the process when no platform it tries can be used (a DISPLAY that
// names no running X server, a Wayland session without Qt's Wayland plugin),
// so the runtime asks first and refuses to start with a reason instead.
#pragma once

#include <string>

// Empty when a window can be shown; otherwise why not, e.g. "DISPLAY ':99'
// names no running X server". Platforms that need no display (offscreen,
// minimal, ...) are the caller's explicit choice and always pass.
std::string displayProblem(char* argv[]);

// Empty unless Qt would try a platform that serves the window to the
// network without authentication; then why it is refused. Qt 6's vnc
// platform asks no password and listens on every interface, whatever its
// options (size, mmsize, depth, port).
std::string refusedPlatform(char* argv[]);
