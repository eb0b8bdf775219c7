#include "log_series.h"

#include "gap_rule.h"

#include <algorithm>
#include <cmath>

namespace {

// The channel's usual step between two records [s]: the median.
double usualStep(const std::vector<SeriesPoint>& points)
{
    std::vector<double> steps;
    steps.reserve(points.size());
    for (std::size_t i = 1; i < points.size(); ++i)
        steps.push_back(points[i].key - points[i - 1].key);
    if (steps.empty())
        return 1.0;
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    return steps[steps.size() / 2];
}

void addReading(double value, long* count, double* low, double* sum, double* high)
{
    if (!std::isfinite(value))
        return;
    if (*count == 0)
        *low = *high = value;
    *low = std::min(*low, value);
    *high = std::max(*high, value);
    *sum += value;
    ++*count;
}

} // namespace

LogSeries::LogSeries(std::optional<long long> from, std::optional<long long> to, std::optional<int> ccCode)
    : from_(from)
    , to_(to)
    , ccCode_(ccCode)
{
    startSegment();
}

void LogSeries::startSegment()
{
    segments_.emplace_back(kChannels);
}

void LogSeries::spread(int channel)
{
    std::vector<LogRecord>& pending = pending_[channel];
    const double n = double(pending.size());
    for (std::size_t k = 0; k < pending.size(); ++k) {
        const LogRecord& r = pending[k];
        segments_.back()[channel].push_back({double(r.time) + double(k) / n, r.volts, r.amperes, r.code});
    }
    pending.clear();
}

void LogSeries::take(const LogRecord& record)
{
    if ((from_ && record.time < *from_) || (to_ && record.time > *to_))
        return;
    if (any_ && record.time < lastTime_) {
        for (int ch = 0; ch < kChannels; ++ch)
            spread(ch);
        startSegment();
    }
    any_ = true;
    lastTime_ = record.time;
    const int ch = record.channel - 1;
    if (!pending_[ch].empty() && pending_[ch].front().time != record.time)
        spread(ch);
    pending_[ch].push_back(record);

    ChannelSummary& s = summary_[ch];
    ++s.records;
    addReading(record.volts, &s.voltReadings, &s.voltMin, &s.voltSum, &s.voltMax);
    addReading(record.amperes, &s.ampereReadings, &s.ampereMin, &s.ampereSum, &s.ampereMax);
}

void LogSeries::finish()
{
    for (int ch = 0; ch < kChannels; ++ch)
        spread(ch);
    for (auto& segment : segments_) {
        for (int ch = 0; ch < kChannels; ++ch) {
            std::vector<SeriesPoint>& points = segment[ch];
            if (points.empty())
                continue;
            const double usual = usualStep(points);
            std::vector<SeriesPoint> drawn;
            drawn.reserve(points.size() + points.size() / 64 + 1);
            for (std::size_t i = 0; i < points.size(); ++i) {
                const SeriesPoint& p = points[i];
                const bool last = i + 1 == points.size();
                const double step = last ? usual : points[i + 1].key - p.key;
                const bool gapAfter = !last && isGapStep(step, usual);
                if (ccCode_ && p.code == *ccCode_ && (std::isfinite(p.volts) || std::isfinite(p.amperes))) {
                    const double end = p.key + (gapAfter ? usual : step);
                    summary_[ch].ccSeconds += end - p.key;
                    if (!cc_[ch].empty() && cc_[ch].back().end >= p.key)
                        cc_[ch].back().end = std::max(cc_[ch].back().end, end);
                    else
                        cc_[ch].push_back({p.key, end});
                }
                drawn.push_back(p);
                if (gapAfter)
                    drawn.push_back({p.key + usual, NAN, NAN, 0});
            }
            points.swap(drawn);
        }
    }
    // Segments overlap in time: keep each channel's stretches in order.
    for (int ch = 0; ch < kChannels; ++ch) {
        std::sort(cc_[ch].begin(), cc_[ch].end(), [](const Stretch& a, const Stretch& b) { return a.begin < b.begin; });
        std::vector<Stretch> merged;
        for (const Stretch& s : cc_[ch]) {
            if (!merged.empty() && merged.back().end >= s.begin)
                merged.back().end = std::max(merged.back().end, s.end);
            else
                merged.push_back(s);
        }
        cc_[ch].swap(merged);
    }
}

bool LogSeries::empty() const
{
    for (const auto& segment : segments_)
        for (const auto& points : segment)
            if (!points.empty())
                return false;
    return true;
}

bool LogSeries::keyRange(double* lower, double* upper) const
{
    bool found = false;
    for (const auto& segment : segments_) {
        for (const auto& points : segment) {
            if (points.empty())
                continue;
            *lower = found ? std::min(*lower, points.front().key) : points.front().key;
            *upper = found ? std::max(*upper, points.back().key) : points.back().key;
            found = true;
        }
    }
    return found;
}
