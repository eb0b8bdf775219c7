// The recording fake's fixed answers, shared with the tests that check what
// railmon did with them.
#pragma once

inline double fakeVoltage(int ch, int preset)
{
    return ch + preset / 10.0;
} // [V]
inline double fakeCurrent(int ch, int preset)
{
    return ch / 10.0 + preset / 100.0;
} // [A]
inline double fakeMoniVolts(int ch)
{
    return ch + 0.25;
} // [V]
inline double fakeMoniAmps(int ch)
{
    return ch / 100.0 + 0.001;
} // [A]
