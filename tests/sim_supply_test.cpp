// The simulated supply: its load model, ratings, memory and settings.
#include "dynload.h"
#include "process.h"
#include "sim_state_file.h"
#include "sim_supply.h"
#include "test_paths.h"
#include "tmi_api.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace sim;

namespace {

Supply quietSupply()
{
    Supply supply;
    supply.setNoise(0.0, 0.0);
    supply.setMainOutput(true);
    return supply;
}

} // namespace

TEST(SimSupply, RegulatesVoltageUntilTheLoadWantsMoreThanTheLimit)
{
    Supply supply = quietSupply();
    const int p = supply.memory().activePreset;
    supply.setVoltage(1, p, 12.0);
    supply.setCurrent(1, p, 0.5);

    supply.setLoad(1, 100.0); // wants 0.12 A
    Reading r = supply.measure(1);
    EXPECT_EQ(r.code, kConstantVoltage);
    EXPECT_DOUBLE_EQ(r.volts, 12.0);
    EXPECT_NEAR(r.amps, 0.12, 1e-9);

    supply.setLoad(1, 24.0); // wants exactly the limit: still CV
    r = supply.measure(1);
    EXPECT_EQ(r.code, kConstantVoltage);
    EXPECT_NEAR(r.amps, 0.5, 1e-9);

    supply.setLoad(1, 10.0); // wants 1.2 A: held at 0.5 A, 5 V
    r = supply.measure(1);
    EXPECT_EQ(r.code, kConstantCurrent);
    EXPECT_NEAR(r.volts, 5.0, 1e-9);
    EXPECT_NEAR(r.amps, 0.5, 1e-9);
}

TEST(SimSupply, NegativeRailsKeepTheirSignInCurrentLimit)
{
    Supply supply = quietSupply();
    const int p = supply.memory().activePreset;
    supply.setVoltage(2, p, -12.0);
    supply.setCurrent(2, p, 0.5);
    supply.setLoad(2, 10.0);
    const Reading r = supply.measure(2);
    EXPECT_EQ(r.code, kConstantCurrent);
    EXPECT_NEAR(r.volts, -5.0, 1e-9);
    EXPECT_NEAR(r.amps, 0.5, 1e-9);
}

TEST(SimSupply, OutputOffReadsZero)
{
    Supply supply = quietSupply();
    supply.setMainOutput(false);
    for (int ch = 1; ch <= kChannels; ++ch) {
        const Reading r = supply.measure(ch);
        EXPECT_EQ(r.volts, 0.0);
        EXPECT_EQ(r.amps, 0.0);
        EXPECT_EQ(r.code, kOutputOff);
    }
}

TEST(SimSupply, SetpointsAreClampedToTheRatingsAndNonsenseIsRefused)
{
    Supply supply;
    EXPECT_TRUE(supply.setVoltage(1, 1, 25.0));
    EXPECT_EQ(supply.setpoint(1, 1).volts, 18.0);
    EXPECT_TRUE(supply.setVoltage(2, 1, 5.0)); // the -18 V rail cannot go positive
    EXPECT_EQ(supply.setpoint(2, 1).volts, 0.0);
    EXPECT_TRUE(supply.setVoltage(4, 1, -9.0));
    EXPECT_EQ(supply.setpoint(4, 1).volts, -6.0);
    EXPECT_TRUE(supply.setCurrent(3, 1, 7.0));
    EXPECT_EQ(supply.setpoint(3, 1).amps, 3.0);
    EXPECT_TRUE(supply.setCurrent(3, 1, -1.0));
    EXPECT_EQ(supply.setpoint(3, 1).amps, 0.0);

    const Setpoint before = supply.setpoint(1, 2);
    EXPECT_FALSE(supply.setVoltage(1, 2, std::nan("")));
    EXPECT_FALSE(supply.setVoltage(0, 2, 1.0));
    EXPECT_FALSE(supply.setVoltage(5, 2, 1.0));
    EXPECT_FALSE(supply.setCurrent(1, 0, 1.0));
    EXPECT_FALSE(supply.setCurrent(1, kFirstPreset + kPresets, 1.0));
    EXPECT_FALSE(supply.selectPreset(0));
    EXPECT_EQ(supply.setpoint(1, 2).volts, before.volts);
    EXPECT_EQ(supply.setpoint(1, 2).amps, before.amps);
}

TEST(SimSupply, ReadingsCarryBoundedNoiseAtMeterResolution)
{
    Supply supply;
    supply.setMainOutput(true);
    const Setpoint set = supply.setpoint(1, supply.memory().activePreset);
    for (int i = 0; i < 200; ++i) {
        const Reading r = supply.measure(1);
        EXPECT_NEAR(r.volts, set.volts, 0.0025);
        EXPECT_NEAR(r.volts * 1000.0, std::round(r.volts * 1000.0), 1e-6) << "not on the 1 mV grid";
    }
}

class SimStateFile : public testing::Test {
protected:
    void SetUp() override { dir_ = makeTempDir(); }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string path() const { return dir_ + "/sub/dir/tmi-sim.state"; }
    std::string dir_;
};

TEST_F(SimStateFile, RoundTripsTheMemoryAndLeavesNoTemporaryFiles)
{
    Memory memory = factoryMemory();
    memory.activePreset = 3;
    memory.presets[2][1] = {-7.25, 0.125};
    std::string problem;
    ASSERT_TRUE(saveMemory(path(), memory, &problem)) << problem;
    const LoadedMemory loaded = loadMemory(path());
    ASSERT_TRUE(loaded.memory) << loaded.problem;
    EXPECT_EQ(loaded.memory->activePreset, 3);
    EXPECT_EQ(loaded.memory->presets[2][1].volts, -7.25);
    EXPECT_EQ(loaded.memory->presets[2][1].amps, 0.125);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_ + "/sub/dir"), {}), 1);
}

TEST_F(SimStateFile, NumbersKeepTheirPointWhateverLocaleTheProcessHas)
{
    // A library in the same process may set the C locale to its own.
    const std::string locales = dir_ + "/locales";
    std::filesystem::create_directories(locales);
    ASSERT_EQ(runProcess({"/usr/bin/localedef", "-i", "de_DE", "-f", "UTF-8", locales + "/de_DE.UTF-8"}, {}).exitCode,
              0);
    setenv("LOCPATH", locales.c_str(), 1);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    Memory memory = factoryMemory();
    memory.presets[2][1] = {-7.25, 0.125};
    std::string problem;
    const bool saved = saveMemory(path(), memory, &problem);
    const LoadedMemory loaded = loadMemory(path());
    std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
    ASSERT_TRUE(saved) << problem;
    EXPECT_THAT(readFile(path()), testing::HasSubstr(" -7.25 0.125\n"));
    ASSERT_TRUE(loaded.memory) << loaded.problem;
    EXPECT_EQ(loaded.memory->presets[2][1].volts, -7.25);
}

TEST_F(SimStateFile, DamagedFilesAreRefusedWithAReason)
{
    std::string good;
    {
        ASSERT_TRUE(saveMemory(path(), factoryMemory(), nullptr));
        good = readFile(path());
    }
    const std::vector<std::string> damaged = {
        "",                                   // empty
        good.substr(0, good.size() / 2),      // truncated
        "garbage\n",                          // not ours
        std::string("\0\xff\x13 binary", 10), // binary
        good + "1 1 1 0.1\n",                 // repeated line
        [&] {
            std::string s = good;
            s.replace(s.find("active 1"), 8, "active 9");
            return s;
        }(),
        [&] {
            std::string s = good;
            s.replace(s.find("\n1 1 "), 5, "\n1 1 99");
            return s;
        }(), // out of rating
    };
    for (const std::string& text : damaged) {
        writeFile(path(), text);
        const LoadedMemory loaded = loadMemory(path());
        EXPECT_FALSE(loaded.memory) << testing::PrintToString(text);
        EXPECT_FALSE(loaded.problem.empty());
    }
    std::filesystem::remove(path());
    const LoadedMemory missing = loadMemory(path());
    EXPECT_FALSE(missing.memory);
    EXPECT_EQ(missing.problem, "") << "a supply that was never set is no problem";
}

// Through the exported functions, as railmon sees the simulator.
class SimLibrary : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = makeTempDir();
        setenv("TMI_SIM_STATE", (dir_ + "/state").c_str(), 1);
        setenv("TMI_SIM_NOISE", "0", 1);
        for (const char* name : {"TMI_SIM_NO_DEVICE", "TMI_SIM_LOAD", "TMI_SIM_READING", "TMI_SIM_CVCC",
                                 "TMI_SIM_FAIL_AFTER", "TMI_SIM_LATENCY_MS"})
            unsetenv(name);
    }
    void TearDown() override
    {
        unload();
        std::filesystem::remove_all(dir_);
    }
    void load()
    {
        library_ = LoadLibraryA(RAILMON_BIN_DIR "/libTMI_API.so");
        ASSERT_NE(library_, nullptr);
#define BIND(name, params) name = reinterpret_cast<int(*) params>(GetProcAddress(library_, #name));
        TMI_API_FUNCTIONS(BIND)
#undef BIND
    }
    void unload()
    {
        if (library_)
            FreeLibrary(library_);
        library_ = nullptr;
    }

#define DECLARE(name, params) int(*name) params = nullptr;
    TMI_API_FUNCTIONS(DECLARE)
#undef DECLARE
    char dev[5] = "PW-A";
    char usb[8] = "USB:1:1";
    std::string dir_;
    HINSTANCE library_ = nullptr;
};

TEST_F(SimLibrary, PresetsSurviveARestart)
{
    load();
    int h = TMI_HandleOpen(dev, usb);
    ASSERT_GT(h, 0);
    EXPECT_EQ(TMI_Voltage(h, 3, 3, 4.5), 0);
    EXPECT_EQ(TMI_Current(h, 3, 3, 1.25), 0);
    EXPECT_EQ(TMI_Preset(h, 3), 0);
    TMI_RemoteLocal(h);
    TMI_HandleClose(h);
    unload();

    load();
    h = TMI_HandleOpen(dev, usb);
    unsigned char preset = 0;
    double volts = 0, amps = 0;
    EXPECT_EQ(TMI_PresetQ(h, &preset), 0);
    EXPECT_EQ(TMI_VoltageQ(h, 3, 3, &volts), 0);
    EXPECT_EQ(TMI_CurrentQ(h, 3, 3, &amps), 0);
    EXPECT_EQ(preset, 3);
    EXPECT_EQ(volts, 4.5);
    EXPECT_EQ(amps, 1.25);
    unsigned char output = 9;
    TMI_MainOutputQ(h, &output);
    EXPECT_EQ(output, 0) << "a supply powers up with its output off";
}

TEST_F(SimLibrary, MeasuresTheConfiguredLoads)
{
    setenv("TMI_SIM_LOAD", "open,100,2,10", 1);
    load();
    const int h = TMI_HandleOpen(dev, usb);
    TMI_Voltage(h, 3, 1, 5.0);
    TMI_Current(h, 3, 1, 1.0);
    TMI_MainOutput(h, 1);
    double v = 0, a = 0;
    char code = -1;
    TMI_Refresh(h);
    EXPECT_EQ(TMI_MoniDataQ(h, 3, &v, &a, &code), 0);
    EXPECT_EQ(code, kConstantCurrent) << "5 V into 2 ohm wants 2.5 A";
    EXPECT_NEAR(v, 2.0, 1e-9);
    EXPECT_NEAR(a, 1.0, 1e-9);
    EXPECT_EQ(TMI_MoniDataQ(h, 1, &v, &a, &code), 0);
    EXPECT_EQ(a, 0.0) << "open output";
    EXPECT_EQ(code, kConstantVoltage);
    unsetenv("TMI_SIM_LOAD");
}

TEST_F(SimLibrary, NoDeviceFailsToOpenAndEveryCallLeavesItsOutputs)
{
    setenv("TMI_SIM_NO_DEVICE", "1", 1);
    load();
    const int h = TMI_HandleOpen(dev, usb);
    EXPECT_LT(h, 0);
    double v = 123.0, a = 456.0;
    char code = 7;
    unsigned char preset = 42;
    char name[255] = "untouched";
    EXPECT_LT(TMI_MoniDataQ(h, 1, &v, &a, &code), 0);
    EXPECT_LT(TMI_PresetQ(h, &preset), 0);
    EXPECT_LT(TMI_ModelNameQ(h, name), 0);
    EXPECT_LT(TMI_Voltage(h, 1, 1, 3.0), 0);
    EXPECT_EQ(v, 123.0);
    EXPECT_EQ(a, 456.0);
    EXPECT_EQ(code, 7);
    EXPECT_EQ(preset, 42);
    EXPECT_STREQ(name, "untouched");
    unsetenv("TMI_SIM_NO_DEVICE");
}

TEST_F(SimLibrary, CallsThatRailmonNeverMakesStillAnswer)
{
    load();
    const int h = TMI_HandleOpen(dev, usb);
    unsigned char byte = 99;
    double number = -1;
    char text[255] = {};
    EXPECT_EQ(TMI_Delay(h, 1), 0);
    EXPECT_EQ(TMI_DelayQ(h, &byte), 0);
    EXPECT_EQ(byte, 1);
    EXPECT_EQ(TMI_TrackingData(h, 1, 2, 3.5), 0);
    EXPECT_EQ(TMI_TrackingDataQ(h, 1, 2, &number), 0);
    EXPECT_EQ(number, 3.5);
    double all[kPresets * kChannels * 2] = {};
    EXPECT_EQ(TMI_AllPresetQ(h, all), 0);
    EXPECT_EQ(all[0], factoryMemory().presets[0][0].volts);
    EXPECT_EQ(TMI_AllPresetQS(h, text), 0);
    EXPECT_THAT(text, testing::StartsWith("P1:9.00,0.45"));
    EXPECT_LT(std::strlen(text), 255u);
    char idn[] = "*IDN?";
    EXPECT_EQ(TMI_Out(h, idn), 0);
    EXPECT_EQ(TMI_In(h, text), 0);
    EXPECT_THAT(text, testing::HasSubstr("PW-A"));
    EXPECT_EQ(TMI_AdrQ(h, &byte), 0);
}

TEST_F(SimLibrary, DamagedStateFileWarnsOnceAndStartsFromFactoryPresets)
{
    const std::string state = dir_ + "/state";
    const std::vector<std::pair<std::string, std::function<void()>>> damages = {
        {"truncated", [&] { writeFile(state, "railmon-sim-state 1\nactive 2\n1 1 5"); }},
        {"corrupted", [&] { writeFile(state, std::string("\x01\x02\xff\xfe", 4)); }},
        {"unreadable", [&] { std::filesystem::create_directory(state); }}, // a directory cannot be read as a file
    };
    for (const auto& [what, damage] : damages) {
        SCOPED_TRACE(what);
        std::filesystem::remove_all(state);
        damage();
        load();
        testing::internal::CaptureStderr();
        const int h = TMI_HandleOpen(dev, usb);
        const std::string warned = testing::internal::GetCapturedStderr();
        ASSERT_GT(h, 0);
        EXPECT_EQ(std::count(warned.begin(), warned.end(), '\n'), 1) << warned;
        EXPECT_THAT(warned, testing::HasSubstr(state));
        unsigned char preset = 0;
        double volts = 0;
        TMI_PresetQ(h, &preset);
        TMI_VoltageQ(h, 1, 1, &volts);
        EXPECT_EQ(preset, kFirstPreset);
        EXPECT_EQ(volts, factoryMemory().presets[0][0].volts);
        TMI_HandleClose(h);
        unload();
    }
}

TEST_F(SimLibrary, StateThatCannotBeWrittenIsKeptForTheRunWithOneWarning)
{
    // A state path below a regular file can never be created, even by root.
    writeFile(dir_ + "/file", "");
    setenv("TMI_SIM_STATE", (dir_ + "/file/state").c_str(), 1);
    load();
    const int h = TMI_HandleOpen(dev, usb);
    testing::internal::CaptureStderr();
    EXPECT_EQ(TMI_Voltage(h, 1, 2, 7.5), 0);
    EXPECT_EQ(TMI_Current(h, 1, 2, 0.5), 0);
    EXPECT_EQ(TMI_Preset(h, 2), 0);
    const std::string warned = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(warned.begin(), warned.end(), '\n'), 1) << warned;
    double volts = 0;
    unsigned char preset = 0;
    TMI_VoltageQ(h, 1, 2, &volts);
    TMI_PresetQ(h, &preset);
    EXPECT_EQ(volts, 7.5);
    EXPECT_EQ(preset, 2);
}

TEST_F(SimLibrary, InjectedFaultsShapeEveryReading)
{
    struct Case {
        const char* variable;
        const char* value;
        std::function<void(double, double, char)> check;
    };
    const std::vector<Case> cases = {
        {"TMI_SIM_READING", "nan", [](double v, double a, char) { EXPECT_TRUE(std::isnan(v) && std::isnan(a)); }},
        {"TMI_SIM_READING", "-inf",
         [](double v, double a, char) { EXPECT_TRUE(std::isinf(v) && v < 0 && std::isinf(a)); }},
        {"TMI_SIM_READING", "range",
         [](double v, double a, char) {
             EXPECT_GT(v, 1e6);
             EXPECT_LT(a, 0);
         }},
        {"TMI_SIM_CVCC", "-7", [](double, double, char code) { EXPECT_EQ(code, -7); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.variable) + "=" + c.value);
        setenv(c.variable, c.value, 1);
        load();
        const int h = TMI_HandleOpen(dev, usb);
        TMI_MainOutput(h, 1);
        double v = 0, a = 0;
        char code = 0;
        ASSERT_EQ(TMI_MoniDataQ(h, 1, &v, &a, &code), 0);
        c.check(v, a, code);
        TMI_HandleClose(h);
        unload();
        unsetenv(c.variable);
    }
}

TEST_F(SimLibrary, DeviceGoneAfterNCallsFailsEveryLaterCallAndLeavesOutputs)
{
    setenv("TMI_SIM_FAIL_AFTER", "3", 1);
    load();
    const int h = TMI_HandleOpen(dev, usb);
    unsigned char preset = 0;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(TMI_PresetQ(h, &preset), 0) << i;
    preset = 77;
    double v = 5, a = 6;
    char code = 9;
    EXPECT_LT(TMI_PresetQ(h, &preset), 0);
    EXPECT_LT(TMI_MoniDataQ(h, 1, &v, &a, &code), 0);
    EXPECT_LT(TMI_HandleClose(h), 0);
    EXPECT_EQ(preset, 77);
    EXPECT_EQ(v, 5);
    EXPECT_EQ(a, 6);
    EXPECT_EQ(code, 9);
    unsetenv("TMI_SIM_FAIL_AFTER");
}

TEST_F(SimLibrary, StateFileIsOnlyARegularFileAndTwoRunsSharingItLoseNoChange)
{
    // Names that are not a state file are refused at once, never read.
    const std::string fifo = dir_ + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero")}) {
        SCOPED_TRACE(path);
        const LoadedMemory loaded = loadMemory(path);
        EXPECT_FALSE(loaded.memory);
        EXPECT_EQ(loaded.problem, "not a regular file");
    }

    // Two runs on one state file, each writing its own channel in every
    // preset: each write reads the other's first, so none is lost.
    load();
    const pid_t other = fork();
    const unsigned char channel = other == 0 ? 1 : 2;
    const int h = TMI_HandleOpen(dev, usb);
    for (int round = 0; round < 25; ++round)
        for (unsigned char preset = 1; preset <= 4; ++preset)
            TMI_Voltage(h, channel, preset, (channel == 1 ? 1 : -1) * (0.5 + round * 0.25));
    TMI_HandleClose(h);
    if (other == 0)
        _exit(0);
    int status = 0;
    waitpid(other, &status, 0);
    const LoadedMemory both = loadMemory(dir_ + "/state");
    ASSERT_TRUE(both.memory) << both.problem;
    for (int preset = 0; preset < 4; ++preset) {
        EXPECT_EQ(both.memory->presets[preset][0].volts, 6.5) << "preset " << preset + 1;
        EXPECT_EQ(both.memory->presets[preset][1].volts, -6.5) << "preset " << preset + 1;
    }
}
