// A log's records as what a picture and a summary need: per channel, points
// on a time axis in segments, gaps and the stretches spent in CC.
//
// - Several records of a channel within one second (the log's time has whole
//   seconds) are spread evenly across that second: the k-th of n at
//   t + k/n.
// - A time earlier than the one before it (a clock set back) starts a new
//   segment: the picture draws it where its times fall, never a line back.
// - A gap: a reading that never came (nan), or a step between two records
//   longer than 1.5 times the channel's usual step plus a second (the
//   second for the log's whole-second times): a missing tick.
// - Each record stands for the time until the channel's next one (its usual
//   step before a gap or at the end); the time in CC adds up the records
//   with the CC code.
#pragma once

#include "log_reader.h"

#include <optional>
#include <vector>

struct SeriesPoint {
    double key; // [s since the epoch]
    double volts, amperes;
    int code;
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

class LogSeries {
public:
    static constexpr int kChannels = 4;

    // Only records with from <= time <= to are taken. ccCode: the code that
    // means CC, if known.
    LogSeries(std::optional<long long> from, std::optional<long long> to, std::optional<int> ccCode);

    void take(const LogRecord& record);
    // After the last record: spreads the last seconds, finds gaps and CC.
    void finish();

    // Per segment, per channel (0-3): the points, NaN where a gap is drawn.
    const std::vector<std::vector<std::vector<SeriesPoint>>>& segments() const { return segments_; }
    // Per channel: the stretches in CC, merged, in time order.
    const std::vector<Stretch>& ccStretches(int channel) const { return cc_[channel]; }
    const ChannelSummary& summary(int channel) const { return summary_[channel]; }
    bool empty() const;
    // The keys' range over all points; false when there are none.
    bool keyRange(double* lower, double* upper) const;

private:
    void spread(int channel);
    void startSegment();

    std::optional<long long> from_, to_;
    std::optional<int> ccCode_;
    long long lastTime_ = 0;
    bool any_ = false;
    // The records of the current second per channel, waiting to be spread.
    std::vector<LogRecord> pending_[kChannels];
    std::vector<std::vector<std::vector<SeriesPoint>>> segments_;
    std::vector<Stretch> cc_[kChannels];
    ChannelSummary summary_[kChannels];
};
