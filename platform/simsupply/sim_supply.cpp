#include "sim_supply.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {
// Display resolution of the meters.
constexpr double kVoltResolution = 0.001; // [V]
constexpr double kAmpResolution = 0.0001; // [A]

double quantise(double value, double resolution)
{
    return std::round(value / resolution) * resolution;
}
} // namespace

Memory factoryMemory()
{
    Memory memory;
    // Every preset starts at half of each rail with a modest current limit.
    for (auto& preset : memory.presets) {
        for (int ch = 0; ch < kChannels; ++ch) {
            const Rating& r = kRatings[ch];
            preset[ch].volts = (r.minVolts + r.maxVolts) / 2.0;
            preset[ch].amps = r.maxAmps / 4.0;
        }
    }
    return memory;
}

Supply::Supply(Memory memory)
    : memory_(memory)
{
}

bool Supply::setVoltage(int channel, int preset, double volts)
{
    if (!validChannel(channel) || !validPreset(preset) || std::isnan(volts))
        return false;
    const Rating& r = kRatings[channel - 1];
    memory_.presets[preset - kFirstPreset][channel - 1].volts = std::clamp(volts, r.minVolts, r.maxVolts);
    return true;
}

bool Supply::setCurrent(int channel, int preset, double amps)
{
    if (!validChannel(channel) || !validPreset(preset) || std::isnan(amps))
        return false;
    memory_.presets[preset - kFirstPreset][channel - 1].amps = std::clamp(amps, 0.0, kRatings[channel - 1].maxAmps);
    return true;
}

const Setpoint& Supply::setpoint(int channel, int preset) const
{
    return memory_.presets[preset - kFirstPreset][channel - 1];
}

bool Supply::selectPreset(int preset)
{
    if (!validPreset(preset))
        return false;
    memory_.activePreset = preset;
    return true;
}

void Supply::setLoad(int channel, double ohms)
{
    if (validChannel(channel) && ohms > 0.0)
        loads_[channel - 1] = ohms;
}

void Supply::setNoise(double volts, double amps)
{
    noiseVolts_ = std::max(0.0, volts);
    noiseAmps_ = std::max(0.0, amps);
}

Reading Supply::measure(int channel)
{
    Reading reading;
    if (!validChannel(channel) || !mainOutput_)
        return reading; // 0 V, 0 A, output off
    const Setpoint& set = setpoint(channel, memory_.activePreset);
    const double ohms = loads_[channel - 1];
    const double sign = set.volts < 0.0 ? -1.0 : 1.0;
    // The load would draw |V| / R; above the limit the supply holds the
    // current and lets the voltage fall to I * R.
    const double wanted = std::abs(set.volts) / ohms;
    if (wanted <= set.amps) {
        reading.volts = set.volts;
        reading.amps = wanted;
        reading.code = kConstantVoltage;
    } else {
        reading.volts = sign * set.amps * ohms;
        reading.amps = set.amps;
        reading.code = kConstantCurrent;
    }
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    reading.volts = quantise(reading.volts + noiseVolts_ * unit(random_), kVoltResolution);
    reading.amps = quantise(std::max(0.0, reading.amps + noiseAmps_ * unit(random_)), kAmpResolution);
    return reading;
}

} // namespace sim
