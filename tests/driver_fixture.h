// In-process tests of railmon's driver layer and callbacks: the application's
// globals reset to their values at load, and the vendor library chosen among
// the recording fake's variants.
#pragma once

#include "fake_answers.h"
#include "process.h"
#include "railmon.h"
#include "test_paths.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

inline std::string fakeDir(const std::string& variant)
{
    return std::string(RAILMON_FAKES_DIR) + "/" + variant;
}

class DriverTest : public testing::Test {
protected:
    void SetUp() override
    {
        logDir_ = makeTempDir();
        logPath_ = logDir_ + "/calls.log";
        // Every test starts from the fake's defaults, whatever an earlier
        // test in this process set and left behind: a hand-kept list of
        // names misses the next setting someone adds.
        for (const std::string& name : fakeSettings())
            unsetenv(name.c_str());
        setenv("TMI_FAKE_LOG", logPath_.c_str(), 1);
        TMI_APIDll = nullptr;
        TMI_DeviceId = 0;
        TMI_Initialize();
        gMask = 15;
        gLogToFile = 0;
        gFp = nullptr;
    }

    void TearDown() override
    {
        close();
        unsetenv("LD_LIBRARY_PATH");
        std::filesystem::remove_all(logDir_);
    }

    static std::vector<std::string> fakeSettings()
    {
        std::vector<std::string> names;
        for (char** entry = environ; *entry; ++entry) {
            const std::string_view text(*entry);
            if (text.starts_with("TMI_FAKE_"))
                names.emplace_back(text.substr(0, text.find('=')));
        }
        return names;
    }

    // TMI_Close runs once in a program and leaves the unloaded library's
    // handle behind; a test that closes makes sure teardown does not again.
    static int close()
    {
        const int result = TMI_Close();
        TMI_APIDll = nullptr;
        return result;
    }

    static void useFake(const std::string& variant) { setenv("LD_LIBRARY_PATH", fakeDir(variant).c_str(), 1); }

    // The in-memory call log of the loaded fake.
    static std::string fakeLog()
    {
        auto log = reinterpret_cast<const char* (*)()>(GetProcAddress(TMI_APIDll, "TMI_FakeCallLog"));
        return log ? log() : std::string("(no fake loaded)");
    }
    static void clearFakeLog()
    {
        if (auto clear = reinterpret_cast<void (*)()>(GetProcAddress(TMI_APIDll, "TMI_FakeClearLog")))
            clear();
    }
    // The call log written to file, which outlives the library.
    std::vector<std::string> fileLogLines() const { return linesOf(readFile(logPath_)); }

    char dev[5] = "PW-A";
    char usb[8] = "USB:1:1";

private:
    std::string logDir_, logPath_;
};
