// Numbers as railmon writes them everywhere (the log, the export, the
// status line, answers to scripts): with a point, never grouped, whatever
// the process locale is. A vendor library may set the C locale to its own
// at any call, and printf's %g would then write "1,3".
#pragma once

#include <charconv>
#include <string>

// As printf's "%.<precision>g" in the C locale.
inline std::string numberText(double value, int precision)
{
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::general, precision).ptr;
    return std::string(text, end);
}
