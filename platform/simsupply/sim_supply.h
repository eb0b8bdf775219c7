// A four-output bench supply in software: ratings, preset memories, a main
// output switch and a resistive load on each output, measured the way the
// front panel would show it.
#pragma once

#include <array>
#include <random>
#include <string>

namespace sim {

constexpr int kChannels = 4;
constexpr int kPresets = 4;
constexpr int kFirstPreset = 1; // presets are numbered 1..kPresets

// Codes the supply reports for an output's regulation state.
enum RegulationCode : char {
    kConstantVoltage = 0,
    kConstantCurrent = 1,
    kOutputOff = 2,
};

struct Rating {
    double minVolts, maxVolts; // signed: the negative rails regulate below 0 V
    double maxAmps;            // current limit, 0..maxAmps
};

// +18 V, -18 V, +6 V and -6 V rails.
constexpr std::array<Rating, kChannels> kRatings = {{
    {0.0, 18.0, 1.8},
    {-18.0, 0.0, 1.8},
    {0.0, 6.0, 3.0},
    {-6.0, 0.0, 3.0},
}};

struct Setpoint {
    double volts = 0.0;
    double amps = 0.0;
};

// What the supply keeps across power cycles.
struct Memory {
    int activePreset = kFirstPreset;
    std::array<std::array<Setpoint, kChannels>, kPresets> presets{};
};

Memory factoryMemory();

struct Reading {
    double volts = 0.0;
    double amps = 0.0;
    char code = kOutputOff;
};

class Supply {
public:
    explicit Supply(Memory memory = factoryMemory());

    const Memory& memory() const { return memory_; }
    // The memory as another process left it in the state file.
    void setMemory(const Memory& memory) { memory_ = memory; }
    bool validChannel(int channel) const { return channel >= 1 && channel <= kChannels; }
    bool validPreset(int preset) const { return preset >= kFirstPreset && preset < kFirstPreset + kPresets; }

    // Setpoints are clamped to the channel's rating; false for a channel or
    // preset that does not exist or a value that is not a number.
    bool setVoltage(int channel, int preset, double volts);
    bool setCurrent(int channel, int preset, double amps);
    const Setpoint& setpoint(int channel, int preset) const;
    bool selectPreset(int preset);

    bool mainOutput() const { return mainOutput_; }
    void setMainOutput(bool on) { mainOutput_ = on; }

    // Load resistance of each output [ohm]; infinity for an open output.
    void setLoad(int channel, double ohms);
    double load(int channel) const { return loads_[channel - 1]; }
    // Half-width of the uniform measurement noise [V], [A]; 0 for exact readings.
    void setNoise(double volts, double amps);

    // The measurement the front panel would show now.
    Reading measure(int channel);

private:
    Memory memory_;
    bool mainOutput_ = false; // a supply powers up with its output off
    std::array<double, kChannels> loads_{100.0, 100.0, 10.0, 10.0};
    double noiseVolts_ = 0.002, noiseAmps_ = 0.0002;
    std::minstd_rand random_{12345};
};

} // namespace sim
