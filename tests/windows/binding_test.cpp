// Loading and binding real Windows DLLs: the recording fake in all its
// variants, a DLL of the other bitness, a DLL planted where it must not be
// looked for, and the start-up and shutdown calls in order.
#include "railmon.h"
#include "win_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const std::vector<std::string> kDeclared = {
#define TMI_TEST_NAME(name, params) #name,
    TMI_API_FUNCTIONS(TMI_TEST_NAME)
#undef TMI_TEST_NAME
};

// Declaration order with TMI_HandleClose last, as railmon binds.
std::vector<std::string> bindingOrder()
{
    std::vector<std::string> order = kDeclared;
    order.erase(std::find(order.begin(), order.end(), "TMI_HandleClose"));
    order.push_back("TMI_HandleClose");
    return order;
}

// The probe's "bound ..." line for these names, in declaration order.
std::string boundLine(const std::vector<std::string>& names)
{
    std::string line = "bound";
    for (const std::string& name : kDeclared)
        if (std::find(names.begin(), names.end(), name) != names.end())
            line += " " + name;
    return line;
}

bool hasLine(const Run& run, const std::string& line)
{
    const std::vector<std::string> lines = run.lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class WindowsBinding : public testing::Test {
protected:
    void SetUp() override { root_ = makeTempDir("binding"); }
    void TearDown() override { removeTree(root_); }
    std::string root_;
};

} // namespace

TEST_F(WindowsBinding, TheCompleteFakeBesideTheProgramBindsAll39InProcess)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(TMI_Open(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "FALSE =0 TRUE=1\nTMI_In loaded.\n");
    char path[MAX_PATH] = {};
    GetModuleFileNameA(TMI_APIDll, path, sizeof path);
    EXPECT_TRUE(contains(path, "\\bin\\TMI_API.dll")) << path;
    int bound = 0;
#define TMI_TEST_COUNT(name, params) bound += name != nullptr;
    TMI_API_FUNCTIONS(TMI_TEST_COUNT)
#undef TMI_TEST_COUNT
    EXPECT_EQ(bound, 39);
    char dev[] = "PW-A", usb[] = "USB:1:1";
    EXPECT_EQ(TMI_OpenHandle(dev, usb), 7);
    testing::internal::CaptureStdout();
    EXPECT_EQ(TMI_Test(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "TMI_ModelNameQ FAKE PW-A\n");
    EXPECT_EQ(TMI_Close(), 0);
    EXPECT_EQ(TMI_DeviceId, 0);
}

TEST_F(WindowsBinding, EachMissingNameStopsBindingAtExactlyItsPosition)
{
    const std::vector<std::string> order = bindingOrder();
    for (size_t missing = 0; missing < order.size(); ++missing) {
        const std::string& name = order[missing];
        SCOPED_TRACE(name);
        const ProbeRun probe = runProbe(root_, dllPath("no-" + name.substr(4)), "bind");
        ASSERT_EQ(probe.run.exitCode, 0) << probe.run.err;
        EXPECT_TRUE(hasLine(probe.run, "open 0"));
        EXPECT_FALSE(hasLine(probe.run, "TMI_In loaded."));
        const std::vector<std::string> before(order.begin(), order.begin() + static_cast<long>(missing));
        EXPECT_TRUE(hasLine(probe.run, boundLine(before))) << probe.run.out;
        EXPECT_TRUE(hasLine(probe.run, "test 0"));
        // Named, and not taken for a failed load.
        EXPECT_TRUE(contains(probe.run.err, "TMI_API.dll cannot be used: it exports no " + name + "\n"))
            << probe.run.err;
        EXPECT_FALSE(contains(probe.run.err, "Cannot load")) << probe.run.err;
        removeTree(probe.appDir + "\\..");
    }
}

TEST_F(WindowsBinding, ExtraNamesAreIgnored)
{
    const ProbeRun probe = runProbe(root_, dllPath("extra"), "bind");
    EXPECT_TRUE(hasLine(probe.run, "open 1")) << probe.run.out << probe.run.err;
    EXPECT_TRUE(hasLine(probe.run, boundLine(kDeclared)));
    EXPECT_TRUE(hasLine(probe.run, "test 1"));
}

TEST_F(WindowsBinding, AnAbsentDllIsReportedAndNothingIsBoundOrCalled)
{
    const ProbeRun probe = runProbe(root_, "", "bind");
    EXPECT_EQ(probe.run.out, "FALSE =0 TRUE=1\nopen 0\nbound\nmodule \nhandle -1000\ntest 0\n");
    EXPECT_TRUE(contains(probe.run.err, "Cannot load TMI_API.dll: ")) << probe.run.err;
    EXPECT_TRUE(contains(probe.run.err, "(error 126)")) << probe.run.err;
}

TEST_F(WindowsBinding, ADllOfTheOtherBitnessIsReportedAsSuch)
{
    const ProbeRun probe = runProbe(root_, dllPath("x86"), "bind");
    EXPECT_TRUE(hasLine(probe.run, "open 0")) << probe.run.out;
    EXPECT_TRUE(hasLine(probe.run, "bound"));
    EXPECT_TRUE(contains(probe.run.err, "Cannot load TMI_API.dll: ")) << probe.run.err;
    EXPECT_TRUE(contains(probe.run.err, "not a 64-bit (x86-64) DLL")) << probe.run.err;
    EXPECT_TRUE(contains(probe.run.err, "(error 193)")) << probe.run.err;
}

// A DLL planted in the working directory or in a folder on PATH is never
// loaded: the fake marks its log when it is loaded at all.
TEST_F(WindowsBinding, ADllPlantedInTheWorkingDirectoryOrOnPathIsNeverLoaded)
{
    const std::string work = makeTempDir("planted-work"), onPath = makeTempDir("planted-path");
    CopyFileA(dllPath("complete").c_str(), (work + "\\TMI_API.dll").c_str(), FALSE);
    CopyFileA(dllPath("complete").c_str(), (onPath + "\\TMI_API.dll").c_str(), FALSE);
    const std::string calls = root_ + "\\calls.log";
    char path[32768] = {};
    GetEnvironmentVariableA("PATH", path, sizeof path);
    const EnvChanges env = {{"TMI_FAKE_LOG", calls}, {"PATH", onPath + ";" + path}};

    const ProbeRun none = runProbe(root_, "", "bind", work, env);
    EXPECT_TRUE(hasLine(none.run, "open 0")) << none.run.out;
    EXPECT_FALSE(exists(calls)) << "a planted DLL was loaded: " << readFile(calls);

    // With one beside the program, that one is loaded, whatever else is planted.
    const ProbeRun beside = runProbe(root_, dllPath("no-HandleClose"), "bind", work, env);
    EXPECT_TRUE(hasLine(beside.run, "open 0")) << beside.run.out;
    EXPECT_TRUE(hasLine(beside.run, "module " + beside.appDir + "\\TMI_API.dll")) << beside.run.out;
    removeTree(work);
    removeTree(onPath);
}

TEST_F(WindowsBinding, StartUpAndShutdownMakeTheirCallsInOrder)
{
    const std::string calls = root_ + "\\calls.log";
    const ProbeRun probe = runProbe(root_, dllPath("complete"), "startup", "", {{"TMI_FAKE_LOG", calls}});
    EXPECT_EQ(probe.run.exitCode, 0) << probe.run.err;
    EXPECT_EQ(probe.run.out, "FALSE =0 TRUE=1\nTMI_In loaded.\nTMI_ModelNameQ FAKE PW-A\nTMI device ID 7\n");
    const std::vector<std::string> expected = {"# loaded",           "TMI_HandleOpen PW-A USB:1:1",
                                               "TMI_ModelNameQ 7",   "TMI_MainOutputQ 7",
                                               "TMI_PresetQ 7",      "TMI_VoltageQ 7 1 2",
                                               "TMI_CurrentQ 7 1 2", "TMI_VoltageQ 7 2 2",
                                               "TMI_CurrentQ 7 2 2", "TMI_VoltageQ 7 3 2",
                                               "TMI_CurrentQ 7 3 2", "TMI_VoltageQ 7 4 2",
                                               "TMI_CurrentQ 7 4 2", "TMI_RemoteLocal 7",
                                               "TMI_HandleClose 7"};
    EXPECT_EQ(readLines(calls), expected);
    // The call log is written in binary: no carriage returns.
    EXPECT_EQ(readFile(calls).find('\r'), std::string::npos);
}

TEST_F(WindowsBinding, ASecondRailmonForTheSameSupplyRefusesToStart)
{
    // The first one's lock, held by this process in the lock folder the
    // probe is given.
    const std::string temp = makeTempDir("lock");
    const std::string lockPath = temp + "\\railmon-USB_1_1.lock";
    HANDLE held = CreateFileA(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(held, "4242", 4, &written, nullptr);
    OVERLAPPED farByte = {};
    farByte.OffsetHigh = 0x7FFFFFFF;
    ASSERT_TRUE(LockFileEx(held, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &farByte));
    const ProbeRun second = runProbe(root_, dllPath("complete"), "startup", "", {{"RAILMON_LOCK_DIR", temp}});
    CloseHandle(held);
    EXPECT_EQ(second.run.exitCode, -1);
    EXPECT_TRUE(contains(second.run.out, "railmon (process 4242) is already connected to the supply at USB:1:1."))
        << second.run.out;
    EXPECT_TRUE(contains(second.run.out, "POPUP Supply in use|")) << second.run.out;
    removeTree(temp);
}
