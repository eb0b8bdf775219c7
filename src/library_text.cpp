#include "library_text.h"

#include <cstdio>
#include <cstring>

namespace {

const char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD

// Marks that change the direction text is shown in: U+061C, U+200E,
// U+200F, U+202A to U+202E, U+2066 to U+2069.
bool isDirectionControl(char32_t c)
{
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// The code point of the UTF-8 sequence at `at` and its length, or length 0
// for bytes that are no valid sequence (overlong, a surrogate, past U+10FFFF,
// cut short).
std::size_t decode(const unsigned char* at, std::size_t left, char32_t& c)
{
    const unsigned char lead = at[0];
    std::size_t length = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        c = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, c = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, c = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, c = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (left < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((at[i] & 0xC0) != 0x80)
            return 0;
        c = c << 6 | (at[i] & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

std::string printableText(const char* raw, std::size_t size)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(raw);
    const std::size_t length = raw ? strnlen(raw, size) : 0;
    std::string shown;
    shown.reserve(length);
    char escape[16];
    for (std::size_t i = 0; i < length;) {
        char32_t c = 0;
        const std::size_t n = decode(bytes + i, length - i, c);
        if (n == 0) {
            shown += kReplacement;
            ++i;
            continue;
        }
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) {
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(c));
            shown += escape;
        } else if (isDirectionControl(c)) {
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
            shown += escape;
        } else {
            shown.append(raw + i, n);
        }
        i += n;
    }
    return shown;
}

std::string printableText(const std::string& raw)
{
    return printableText(raw.c_str(), raw.size());
}

bool isUtf8(std::string_view text)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const std::size_t n = decode(bytes + i, text.size() - i, c);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}
