// The recording fake's fixed answers, shared with the tests that check what
// railmon did with them.
#pragma once

// The rails CH -18V (2) and CH -6V (4) are negative, as on the supply.
inline double fakeSign(int ch)
{
    return ch % 2 == 0 ? -1.0 : 1.0;
}
// [V]
inline double fakeVoltage(int ch, int preset)
{
    return fakeSign(ch) * (ch + preset / 10.0);
}
// [A]
inline double fakeCurrent(int ch, int preset)
{
    return ch / 10.0 + preset / 100.0;
}
// [V]
inline double fakeMoniVolts(int ch)
{
    return ch + 0.25;
}
// [A]
inline double fakeMoniAmps(int ch)
{
    return ch / 100.0 + 0.001;
}
