#include "protection_file.h"

#include "number_text.h"
#include "osfile.h"

#include <charconv>
#include <sstream>
#include <vector>

namespace {

const char kHeader[] = "railmon-protection 1";
// Far more than four channels' lines: a larger file is not this one.
constexpr long long kMaxFileSize = 16 * 1024; // [bytes]

const char* const kLimitWords[PROTECT_LIMITS] = {"ovp", "ocp", "cc"};

std::vector<std::string> words(const std::string& line)
{
    std::vector<std::string> out;
    std::string word;
    for (char c : line) {
        if (c == ' ' || c == '\t') {
            if (!word.empty())
                out.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty())
        out.push_back(word);
    return out;
}

// A level as written: digits with a point, whatever the process locale.
bool levelOf(const std::string& word, double& level)
{
    const char* end = word.data() + word.size();
    const auto [ptr, error] = std::from_chars(word.data(), end, level, std::chars_format::fixed);
    return error == std::errc() && ptr == end && level >= 0;
}

bool armedOf(const std::string& word, bool& armed)
{
    armed = word == "on";
    return armed || word == "off";
}

} // namespace

std::string ProtectionFilePath(std::string& why)
{
    const std::string dir = OsUserConfigDirectory(why);
    return dir.empty() ? dir : dir + "/railmon/protection.conf";
}

std::string ProtectionFileText(const ProtectionSettings& settings)
{
    std::string text = "# railmon's protection levels, rewritten by railmon whenever they change.\n"
                       "# Per channel: over-voltage armed and level [V], over-current armed and level [A],\n"
                       "# trip on CC; levels on the magnitude.\n";
    text += kHeader;
    text += '\n';
    for (int ch = 0; ch < CHANNELS; ++ch) {
        const ChannelProtection& p = settings[ch];
        text += kChannelLabels[ch];
        text += " ovp ";
        text += p.armed[PROTECT_VOLTAGE] ? "on " : "off ";
        text += fixedText(p.voltageLevel, kProtectionLevelDecimals);
        text += " ocp ";
        text += p.armed[PROTECT_CURRENT] ? "on " : "off ";
        text += fixedText(p.currentLevel, kProtectionLevelDecimals);
        text += " cc ";
        text += p.armed[PROTECT_CC] ? "on" : "off";
        text += '\n';
    }
    return text;
}

bool ProtectionFileParse(const std::string& text, ProtectionSettings& settings, std::string& why)
{
    std::istringstream in(text);
    std::string line;
    int lineNumber = 0, ch = -1;
    ChannelProtection parsed[CHANNELS];
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (ch < 0) {
            if (line != kHeader) {
                why = "not a railmon protection file (" + where + "no \"" + kHeader + "\")";
                return false;
            }
            ch = 0;
            continue;
        }
        if (ch >= CHANNELS) {
            why = where + "more than " + std::to_string(CHANNELS) + " channels";
            return false;
        }
        // "CH +18V ovp on 19.000 ocp off 2.000 cc off": the label is two words.
        const std::vector<std::string> w = words(line);
        ChannelProtection& p = parsed[ch];
        const bool formed = w.size() == 10 && w[0] + " " + w[1] == kChannelLabels[ch] && w[2] == kLimitWords[0] &&
            armedOf(w[3], p.armed[PROTECT_VOLTAGE]) && levelOf(w[4], p.voltageLevel) && w[5] == kLimitWords[1] &&
            armedOf(w[6], p.armed[PROTECT_CURRENT]) && levelOf(w[7], p.currentLevel) && w[8] == kLimitWords[2] &&
            armedOf(w[9], p.armed[PROTECT_CC]);
        if (!formed) {
            why =
                where + "expected \"" + std::string(kChannelLabels[ch]) + " ovp on|off <V> ocp on|off <A> cc on|off\"";
            return false;
        }
        ++ch;
    }
    if (ch < CHANNELS) {
        why = ch < 0 ? std::string("not a railmon protection file (no \"") + kHeader + "\")"
                     : "it ends after " + std::to_string(ch) + " of " + std::to_string(CHANNELS) + " channels";
        return false;
    }
    for (int i = 0; i < CHANNELS; ++i)
        settings[i] = parsed[i];
    return true;
}

ProtectionFileRead ProtectionFileLoad(const std::string& path, ProtectionSettings& settings, std::string& why)
{
    const int fd = OsOpenRegularFile(path, OS_READ, 0, why);
    if (fd == OS_ABSENT)
        return ProtectionFileRead::Absent;
    if (fd < 0)
        return ProtectionFileRead::Refused;
    OsFileFacts facts;
    std::string text;
    bool read = OsFileFactsOf(fd, facts, why);
    if (read && facts.size > kMaxFileSize) {
        why = "it is " + std::to_string(facts.size) + " bytes, far more than railmon writes";
        read = false;
    }
    if (read) {
        text.resize(static_cast<std::size_t>(facts.size));
        const long long got = OsReadAt(fd, text.data(), text.size(), 0, why);
        read = got == facts.size;
        if (got >= 0 && !read)
            why = "it changed while being read";
    }
    OsClose(fd);
    if (!read || !ProtectionFileParse(text, settings, why))
        return ProtectionFileRead::Refused;
    return ProtectionFileRead::Loaded;
}

bool ProtectionFileSave(const std::string& path, const ProtectionSettings& settings, std::string& why)
{
    return OsMakeDirectories(OsDirectoryOf(path), 0700, why) &&
        OsReplaceFile(path, ProtectionFileText(settings), 0600, true, why);
}
