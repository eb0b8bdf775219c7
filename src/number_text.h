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

// As printf's "%.<decimals>f" in the C locale, but never "-0.000": a reading
// that rounds to zero is shown unsigned. `decimals` is kept within 0..17,
// as many as a double holds.
inline std::string fixedText(double value, int decimals)
{
    decimals = decimals < 0 ? 0 : decimals > 17 ? 17 : decimals;
    // The largest double written out whole is 309 digits.
    char text[340];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (error != std::errc())
        return numberText(value, 17);
    std::string shown(text, end);
    if (shown[0] == '-' && shown.find_first_not_of("-0.") == std::string::npos)
        shown.erase(0, 1);
    return shown;
}
