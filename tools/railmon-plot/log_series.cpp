#include "log_series.h"

#include "gap_rule.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

namespace {

// Far more distinct steps than a log railmon writes holds (its steps are
// 1/n s within a second and whole seconds less a fraction across them, each
// within a few units of the last place of the keys).
constexpr std::size_t kDistinctSteps = std::size_t(1) << 16;
constexpr int kCoarserBits = 4;
constexpr int kMantissaBits = 52;

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

// ---- StepMedian -------------------------------------------------------------

void StepMedian::add(double step)
{
    unsigned long long bits = 0;
    std::memcpy(&bits, &step, sizeof bits);
    bits &= mask_;
    ++total_;
    if (last_ && bits == lastBits_) {
        ++*last_;
        return;
    }
    long long& count = counts_[bits];
    ++count;
    lastBits_ = bits;
    last_ = &count; // stays valid: the map's elements never move
    if (counts_.size() > kDistinctSteps)
        coarsen();
}

void StepMedian::coarsen()
{
    // Down to the exponents alone at most, of which there are few.
    while (counts_.size() > kDistinctSteps / 2 && dropped_ < kMantissaBits) {
        dropped_ = std::min(dropped_ + kCoarserBits, kMantissaBits);
        mask_ = ~0ULL << dropped_;
        std::unordered_map<unsigned long long, long long> coarser;
        for (const auto& [bits, count] : counts_)
            coarser[bits & mask_] += count;
        counts_.swap(coarser);
    }
    last_ = nullptr;
}

double StepMedian::median() const
{
    if (total_ == 0)
        return 1.0;
    // The steps are never negative, so their bits sort as their values.
    std::vector<std::pair<unsigned long long, long long>> sorted(counts_.begin(), counts_.end());
    std::sort(sorted.begin(), sorted.end());
    long long seen = 0;
    for (const auto& [bits, count] : sorted) {
        seen += count;
        if (seen > total_ / 2) {
            double step = 0;
            std::memcpy(&step, &bits, sizeof step);
            return step;
        }
    }
    return 1.0;
}

// ---- TraceReducer -----------------------------------------------------------

void TraceReducer::Run::add(const Point& p)
{
    if (!any) {
        first = low = high = last = p;
        any = true;
        return;
    }
    if (p.value < low.value)
        low = p;
    if (p.value > high.value)
        high = p;
    last = p;
}

void TraceReducer::Run::merge(const Run& later)
{
    if (!later.any)
        return;
    if (!any) {
        *this = later;
        return;
    }
    if (later.low.value < low.value)
        low = later.low;
    if (later.high.value > high.value)
        high = later.high;
    last = later.last;
}

void TraceReducer::start(double origin, double width)
{
    *this = TraceReducer();
    origin_ = origin;
    width_ = width;
}

void TraceReducer::add(double key, double value)
{
    // Clamped so that a key far outside the span still makes a whole number.
    const long long bucket = static_cast<long long>(std::clamp(std::floor((key - origin_) / width_), -1e15, 1e15));
    if (!open_ || bucket != bucket_) {
        if (open_)
            flush();
        bucket_ = bucket;
        open_ = true;
    }
    const Point p{key, value, order_++};
    if (std::isfinite(value)) {
        tail_.add(p);
        return;
    }
    if (breaks_ == 0) {
        head_ = tail_;
        firstBreak_ = p;
    } else {
        middle_.merge(tail_);
    }
    tail_ = Run();
    lastBreak_ = p;
    ++breaks_;
}

void TraceReducer::put(const Run& run)
{
    if (!run.any)
        return;
    Point points[] = {run.first, run.low, run.high, run.last};
    std::sort(std::begin(points), std::end(points), [](const Point& a, const Point& b) { return a.order < b.order; });
    for (std::size_t i = 0; i < std::size(points); ++i)
        if (i == 0 || points[i].order != points[i - 1].order)
            out_.push_back({points[i].key, points[i].value});
}

void TraceReducer::flush()
{
    if (breaks_ > 0) {
        put(head_);
        out_.push_back({firstBreak_.key, firstBreak_.value});
    }
    if (breaks_ > 1) {
        put(middle_);
        out_.push_back({lastBreak_.key, lastBreak_.value});
    }
    put(tail_);
    head_ = middle_ = tail_ = Run();
    breaks_ = 0;
}

std::vector<TracePoint> TraceReducer::take()
{
    if (open_)
        flush();
    open_ = false;
    std::vector<TracePoint> taken;
    taken.swap(out_);
    return taken;
}

// ---- LogSeries --------------------------------------------------------------

LogSeries::LogSeries(std::optional<long long> from, std::optional<long long> to, std::optional<int> ccCode, int buckets)
    : from_(from)
    , to_(to)
    , ccCode_(ccCode)
    , buckets_(std::max(buckets, 1))
{
    steps_.emplace_back();
}

bool LogSeries::inRange(const LogRecord& record) const
{
    return !(from_ && record.time < *from_) && !(to_ && record.time > *to_);
}

void LogSeries::take(const LogRecord& record, int pass)
{
    if (pass == 0) {
        measure(record);
        return;
    }
    if (!measured_)
        endMeasuring();
    draw(record);
}

// ---- The first pass: usual steps and the time span

void LogSeries::measure(const LogRecord& record)
{
    if (!inRange(record))
        return;
    if (any_ && record.time < lastTime_) {
        for (int ch = 0; ch < kChannels; ++ch) {
            measureSecond(ch);
            channels_[ch].lastKey.reset();
        }
        steps_.emplace_back();
    }
    any_ = true;
    lastTime_ = record.time;
    Channel& c = channels_[record.channel - 1];
    if (c.measured > 0 && c.second != record.time)
        measureSecond(record.channel - 1);
    c.second = record.time;
    ++c.measured;
}

void LogSeries::measureSecond(int channel)
{
    Channel& c = channels_[channel];
    if (c.measured == 0)
        return;
    // The keys the second pass spreads this second's records to.
    const double n = double(c.measured);
    StepMedian& steps = steps_.back()[channel];
    for (long k = 0; k < c.measured; ++k) {
        const double key = double(c.second) + double(k) / n;
        if (c.lastKey)
            steps.add(key - *c.lastKey);
        c.lastKey = key;
    }
    lower_ = spanKnown_ ? std::min(lower_, double(c.second)) : double(c.second);
    upper_ = spanKnown_ ? std::max(upper_, *c.lastKey) : *c.lastKey;
    spanKnown_ = true;
    c.measured = 0;
}

void LogSeries::endMeasuring()
{
    for (int ch = 0; ch < kChannels; ++ch)
        measureSecond(ch);
    for (const auto& segment : steps_) {
        usual_.emplace_back();
        for (int ch = 0; ch < kChannels; ++ch)
            usual_.back()[ch] = segment[ch].median();
    }
    steps_.clear();
    steps_.shrink_to_fit();
    // As the picture spans it: at least a second.
    bucketWidth_ = std::max(upper_ - lower_, 1.0) / buckets_;
    for (int ch = 0; ch < kChannels; ++ch) {
        channels_[ch] = Channel();
        volts_[ch].start(lower_, bucketWidth_);
        amperes_[ch].start(lower_, bucketWidth_);
    }
    segments_.emplace_back();
    measured_ = true;
}

// ---- The second pass: the traces, the stretches in CC and the summary

double LogSeries::usualStep(int channel) const
{
    // A log that grew another segment between the passes has no usual step
    // measured for it.
    return segment_ < usual_.size() ? usual_[segment_][channel] : 1.0;
}

void LogSeries::draw(const LogRecord& record)
{
    if (!inRange(record))
        return;
    if (drawnAny_ && record.time < lastTime_) {
        for (int ch = 0; ch < kChannels; ++ch)
            endSegment(ch);
        ++segment_;
        segments_.emplace_back();
    }
    drawnAny_ = true;
    lastTime_ = record.time;
    const int ch = record.channel - 1;
    Channel& c = channels_[ch];
    if (!c.pending.empty() && c.second != record.time)
        spread(ch);
    c.second = record.time;
    c.pending.push_back({record.volts, record.amperes, record.code});

    ChannelSummary& s = summary_[ch];
    ++s.records;
    addReading(record.volts, &s.voltReadings, &s.voltMin, &s.voltSum, &s.voltMax);
    addReading(record.amperes, &s.ampereReadings, &s.ampereMin, &s.ampereSum, &s.ampereMax);
}

void LogSeries::spread(int channel)
{
    Channel& c = channels_[channel];
    const double n = double(c.pending.size());
    for (std::size_t k = 0; k < c.pending.size(); ++k) {
        const Pending& r = c.pending[k];
        point(channel, {double(c.second) + double(k) / n, r.volts, r.amperes, r.code});
    }
    c.pending.clear();
}

void LogSeries::point(int channel, const Point& p)
{
    Channel& c = channels_[channel];
    if (c.last)
        place(channel, *c.last, p.key - c.last->key, false);
    c.last = p;
}

// A point, now that the step to the next one is known.
void LogSeries::place(int channel, const Point& p, double step, bool last)
{
    const double usual = usualStep(channel);
    const bool gapAfter = !last && isGapStep(step, usual);
    if (ccCode_ && p.code == *ccCode_ && (std::isfinite(p.volts) || std::isfinite(p.amperes))) {
        const double end = p.key + (gapAfter ? usual : step);
        summary_[channel].ccSeconds += end - p.key;
        // Stretches closer than a bucket are one on the picture. One of an
        // earlier segment may span this time: it is not this one's to extend.
        std::vector<Stretch>& cc = cc_[channel];
        if (cc.size() > channels_[channel].firstStretch && cc.back().end + bucketWidth_ >= p.key)
            cc.back().end = std::max(cc.back().end, end);
        else
            cc.push_back({p.key, end});
    }
    volts_[channel].add(p.key, p.volts);
    amperes_[channel].add(p.key, p.amperes);
    if (gapAfter) {
        volts_[channel].add(p.key + usual, NAN);
        amperes_[channel].add(p.key + usual, NAN);
    }
}

void LogSeries::endSegment(int channel)
{
    Channel& c = channels_[channel];
    spread(channel);
    if (c.last)
        place(channel, *c.last, usualStep(channel), true);
    c.last.reset();
    segments_[segment_][channel].volts = volts_[channel].take();
    segments_[segment_][channel].amperes = amperes_[channel].take();
    c.firstStretch = cc_[channel].size();
}

void LogSeries::finish()
{
    if (!measured_)
        endMeasuring();
    for (int ch = 0; ch < kChannels; ++ch)
        endSegment(ch);
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

bool LogSeries::keyRange(double* lower, double* upper) const
{
    if (!any_)
        return false;
    *lower = lower_;
    *upper = upper_;
    return true;
}
