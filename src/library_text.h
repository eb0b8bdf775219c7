// Texts that come from the vendor library (the model name, its loader's
// messages) reach the operator's terminal, the window title, the status
// line and railmon.prom. Such a text is shown as what it is and nothing
// more: a control character (an ANSI escape, a carriage return, a newline)
// would rewrite the terminal or forge output lines, a bidirectional control
// would reverse the status line, and invalid UTF-8 would make the whole
// export unreadable for Prometheus.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// `raw` (at most `size` bytes, up to its first NUL) with every control
// character written out as an escape ("\x1b"), every bidirectional control
// as its code point ("\u202E") and every byte that is not UTF-8 as U+FFFD;
// everything else as it was.
std::string printableText(const char* raw, std::size_t size);
std::string printableText(const std::string& raw);

// Whether `text` is UTF-8 throughout: no overlong form, surrogate or code
// point past U+10FFFF, no sequence cut short.
bool isUtf8(std::string_view text);
