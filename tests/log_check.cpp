#include "log_check.h"

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

namespace {
const std::string kHeader = "#time\tch\tU\tI\tCV_CC";
// A record with any number %g can write: finite, nan or inf, signed. The time
// has ten digits (2001 to 2286), so records glued together fail.
const std::regex
    kRecord(R"([0-9]{10}\t[1-4]\t(-?(nan|inf|[0-9.]+(e[-+][0-9]+)?))\t(-?(nan|inf|[0-9.]+(e[-+][0-9]+)?))\t-?[0-9]+)");
} // namespace

// Checks a log written with all four channels enabled.
LogCheck checkLog(const std::string& path)
{
    LogCheck check;
    const std::string text = readFile(path);
    const std::vector<std::string> lines = linesOf(text);
    check.headerOk = !lines.empty() && lines[0] == kHeader;
    size_t offset = lines.empty() ? 0 : lines[0].size() + 1;
    for (size_t i = 1; i < lines.size(); ++i) {
        const bool whole = std::regex_match(lines[i], kRecord) && offset + lines[i].size() < text.size();
        const bool cutAtPage = i + 1 == lines.size() && text.back() != '\n' && text.size() % 4096 == 0;
        if (whole) {
            ++check.records;
        } else if (cutAtPage) {
            ++check.pageCuts;
        } else {
            ++check.tornLines;
            if (check.firstTorn.empty())
                check.firstTorn =
                    "'" + lines[i] + "' at byte " + std::to_string(offset) + " of " + std::to_string(text.size());
        }
        offset += lines[i].size() + 1;
    }
    // A page cut may also leave whole records of the unfinished tick before it.
    check.partialTicks = check.records % 4 && check.pageCuts == 0 ? 1 : 0;
    return check;
}

long OnSimulatedSupplyRun::ticksReported(const HarnessRun& run)
{
    return std::count(run.stdoutLines.begin(), run.stdoutLines.end(), "TICK");
}
