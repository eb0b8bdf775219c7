// A log's records as what a picture and a summary need: per channel, traces
// on a time axis in segments, gaps and the stretches spent in CC.
//
// - Several records of a channel within one second (the log's time has whole
//   seconds) are spread evenly across that second: the k-th of n at
//   t + k/n.
// - A time earlier than the one before it (a clock set back) starts a new
//   segment: the picture draws it where its times fall, never a line back.
// - A gap: a reading that never came (nan), or a step between two records
//   that gap_rule.h calls a gap against the channel's usual step (the median
//   in its segment): a missing tick.
// - Each record stands for the time until the channel's next one (its usual
//   step before a gap or at the end); the time in CC adds up the records
//   with the CC code.
//
// The log is read twice (readLog's passes): the first pass finds each
// segment's usual steps and the time span, the second reduces each trace, as
// it is read, to what the picture can show. The span is cut into a fixed
// number of buckets, each narrower than a pixel column; a bucket keeps the
// first, last, lowest and highest reading of each unbroken run in it, and
// the breaks (gaps, nan) between runs, so no spike and no gap is lost and
// the picture is the one every point would draw, while memory stays the same
// whatever the log's length.
#pragma once

#include "log_reader.h"

#include <array>
#include <optional>
#include <unordered_map>
#include <vector>

struct TracePoint {
    double key;   // [s since the epoch]
    double value; // [V] or [A]; NaN where a gap is drawn
};

struct ChannelTrace {
    std::vector<TracePoint> volts, amperes;
};

struct Stretch {
    double begin, end; // [s since the epoch]
};

struct ChannelSummary {
    long records = 0;
    long voltReadings = 0, ampereReadings = 0; // the finite ones
    double voltMin = 0, voltSum = 0, voltMax = 0;
    double ampereMin = 0, ampereSum = 0, ampereMax = 0;
    double ccSeconds = 0;
};

// The median of a channel's steps without keeping them: a count per distinct
// step. Should a log hold more distinct steps than any log railmon writes,
// the steps are counted in ever coarser bins (a relative resolution of 2^-48,
// then 2^-44, ...), so memory stays bounded and the median stays close.
class StepMedian {
public:
    void add(double step);
    // The step in the middle of the sorted steps (the upper one of an even
    // count); 1 s when there are none.
    double median() const;

private:
    void coarsen();

    std::unordered_map<unsigned long long, long long> counts_; // by the step's bits
    int dropped_ = 0;                                          // low bits of the steps' mantissas not told apart
    unsigned long long mask_ = ~0ULL;
    unsigned long long lastBits_ = 0;
    long long* last_ = nullptr; // the count of lastBits_, the step most often repeated
    long long total_ = 0;
};

// One trace (a quantity of a channel in a segment) reduced as it comes, in
// time order, to its buckets' first, last, lowest and highest points per
// unbroken run. A non-finite value is a break in the line.
class TraceReducer {
public:
    // Buckets of `width` [s] from `origin` [s since the epoch].
    void start(double origin, double width);
    void add(double key, double value);
    // The reduced trace in time order; the reducer is empty afterwards.
    std::vector<TracePoint> take();

private:
    struct Point {
        double key, value;
        long long order; // arrival, for points at one key
    };
    struct Run {
        Point first{}, low{}, high{}, last{};
        bool any = false;
        void add(const Point& p);
        void merge(const Run& later);
    };
    void flush();
    void put(const Run& run);

    double origin_ = 0, width_ = 1;
    long long bucket_ = 0, order_ = 0;
    bool open_ = false;
    // The runs of the open bucket: before its first break, between its first
    // and last break (merged: they lie within a fraction of a pixel), after
    // its last break.
    Run head_, middle_, tail_;
    Point firstBreak_{}, lastBreak_{};
    int breaks_ = 0;
    std::vector<TracePoint> out_;
};

class LogSeries {
public:
    static constexpr int kChannels = 4;
    static constexpr int kPasses = 2;

    // Only records with from <= time <= to are taken. ccCode: the code that
    // means CC, if known. buckets: how many the time span is cut into.
    LogSeries(std::optional<long long> from, std::optional<long long> to, std::optional<int> ccCode, int buckets);

    // Each record of the log, once per pass (readLog(path, kPasses, ...)).
    void take(const LogRecord& record, int pass);
    // After the last pass: the last seconds, segments and stretches.
    void finish();

    // Per segment, per channel (0-3): the reduced traces, NaN where a gap is drawn.
    const std::vector<std::array<ChannelTrace, kChannels>>& segments() const { return segments_; }
    // Per channel: the stretches in CC, merged, in time order.
    const std::vector<Stretch>& ccStretches(int channel) const { return cc_[channel]; }
    const ChannelSummary& summary(int channel) const { return summary_[channel]; }
    bool empty() const { return !any_; }
    // The keys' range over all records; false when there are none.
    bool keyRange(double* lower, double* upper) const;

private:
    struct Pending {
        double volts, amperes;
        int code;
    };
    struct Point {
        double key, volts, amperes;
        int code;
    };
    // Per channel, what the reading of a pass needs.
    struct Channel {
        long long second = 0;          // of the records pending
        long measured = 0;             // first pass: records in that second
        std::vector<Pending> pending;  // second pass: the records of that second
        std::optional<double> lastKey; // first pass
        std::optional<Point> last;     // second pass: the point before the next
        std::size_t firstStretch = 0;  // of the segment's own in cc_
    };

    bool inRange(const LogRecord& record) const;
    void measure(const LogRecord& record);
    void measureSecond(int channel);
    void endMeasuring();
    void draw(const LogRecord& record);
    void spread(int channel);
    void point(int channel, const Point& p);
    void place(int channel, const Point& p, double step, bool last);
    void endSegment(int channel);
    double usualStep(int channel) const;

    std::optional<long long> from_, to_;
    std::optional<int> ccCode_;
    int buckets_;
    bool measured_ = false; // the first pass is over
    bool any_ = false;      // a record in range
    bool spanKnown_ = false;
    bool drawnAny_ = false;
    long long lastTime_ = 0;
    double lower_ = 0, upper_ = 0; // [s since the epoch] the keys' range
    double bucketWidth_ = 1;       // [s]
    std::size_t segment_ = 0;
    Channel channels_[kChannels];
    // First pass: per segment and channel.
    std::vector<std::array<StepMedian, kChannels>> steps_;
    std::vector<std::array<double, kChannels>> usual_;
    TraceReducer volts_[kChannels], amperes_[kChannels];
    std::vector<std::array<ChannelTrace, kChannels>> segments_;
    std::vector<Stretch> cc_[kChannels];
    ChannelSummary summary_[kChannels];
};
