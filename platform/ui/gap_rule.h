// When a line between two points of one trace would claim readings that
// never came: the strip charts and railmon-plot draw such a step as a gap,
// by the same rule.
#pragma once

// A step [s] longer than one and a half times the trace's usual step plus a
// second is a missing reading (ticks that never came, the process stopped,
// a suspend). The second covers a log's whole-second times and a loop that
// was busy for a moment, so only a real absence shows as a gap.
inline double longestStepWithoutGap(double usualStep)
{
    return 1.5 * usualStep + 1.0;
}

inline bool isGapStep(double step, double usualStep)
{
    return step > longestStepWithoutGap(usualStep);
}
