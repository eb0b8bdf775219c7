// Reading back a measurement log written with all four channels enabled,
// and running railmon on the simulated supply for it.
#pragma once

#include "harness_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

struct LogCheck {
    std::string firstTorn; // with where it stands in the file
    long records = 0;
    long tornLines = 0; // lines that are not whole records
    // A kill during a write that crosses a 4 KiB page of the file can stop
    // the kernel's copy at that page: the tick being written then ends in a
    // part line cut exactly at the boundary. Counted apart from torn lines.
    long pageCuts = 0;
    long partialTicks = 0; // ticks of which only some records reached the file
    bool headerOk = false;
};

LogCheck checkLog(const std::string& path);

class OnSimulatedSupplyRun : public testing::Test {
protected:
    void SetUp() override { dir_ = makeTempDir(); }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    HarnessOptions simulated(const std::string& script) const
    {
        HarnessOptions options;
        options.library = RAILMON_BIN_DIR;
        options.script = script;
        options.workDir = dir_;
        options.env = {{"TMI_SIM_STATE", dir_ + "/sim.state"}, {"RAILMON_REPORT_TICKS", "1"}};
        return options;
    }
    static long ticksReported(const HarnessRun& run);
    std::string dir_;
};
