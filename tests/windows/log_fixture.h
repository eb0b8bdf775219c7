// In-process log tests: railmon's code bound to the complete fake beside the
// test program, ticking in a working directory of its own.
#pragma once

#include "log_file.h"
#include "railmon.h"
#include "win_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

class WindowsLog : public testing::Test {
protected:
    void SetUp() override
    {
        SetStdioPort(0);
        root_ = makeTempDir("log");
        work_ = root_ + "\\work";
        CreateDirectoryA(work_.c_str(), nullptr);
        GetCurrentDirectoryA(sizeof previous_, previous_);
        SetCurrentDirectoryA(work_.c_str());
        testing::internal::CaptureStdout();
        TMI_Open();
        char dev[] = "PW-A", usb[] = "USB:1:1";
        TMI_OpenHandle(dev, usb);
        testing::internal::GetCapturedStdout();
        gMask = 15;
        gLogToFile = 1;
        gFp = nullptr;
    }
    void TearDown() override
    {
        LogClose();
        TMI_Close();
        SetCurrentDirectoryA(previous_);
        removeTree(root_);
    }
    static void tick() { TimerCB(pnl, PANEL_TIMER, EVENT_TIMER_TICK, nullptr, 0, 0); }
    static void writeFile(const std::string& path, const std::string& text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }
    // Time, the channel, two numbers and a code, tab-separated.
    static bool wholeRecord(const std::string& line, int channel)
    {
        std::istringstream fields(line);
        unsigned long time = 0;
        int ch = 0, code = 0;
        double volts = 0, amps = 0;
        std::string rest;
        return (fields >> time >> ch >> volts >> amps >> code) && !(fields >> rest) && ch == channel &&
            std::count(line.begin(), line.end(), '\t') == 4;
    }

    std::string root_, work_;
    char previous_[MAX_PATH] = {};
};
