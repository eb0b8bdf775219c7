// Loading and binding the vendor library, the connection and its close,
// through the real loader and the recording fake's variants.
#include "driver_fixture.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>

namespace {

std::map<std::string, bool> boundEntries()
{
    std::map<std::string, bool> bound;
#define RECORD_BOUND(name, params) bound[#name] = (name != nullptr);
    TMI_API_FUNCTIONS(RECORD_BOUND)
#undef RECORD_BOUND
    return bound;
}

int countBound()
{
    int n = 0;
    for (const auto& [name, isBound] : boundEntries())
        n += isBound;
    return n;
}

bool libraryLoaded(const std::string& variant)
{
    const std::string path = fakeDir(variant) + "/libTMI_API.so";
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle != nullptr;
}

} // namespace

TEST_F(DriverTest, CompleteLibraryBindsEveryEntryAndTalksToTheDevice)
{
    useFake("complete");
    testing::internal::CaptureStdout();
    EXPECT_EQ(TMI_Open(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "FALSE =0 TRUE=1\nTMI_In loaded.\n");
    EXPECT_EQ(countBound(), 39);

    EXPECT_EQ(TMI_OpenHandle(dev, usb), 7);
    EXPECT_EQ(TMI_DeviceId, 7);
    testing::internal::CaptureStdout();
    EXPECT_EQ(TMI_Test(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "TMI_ModelNameQ FAKE PW-A\n");
    EXPECT_EQ(fakeLog(), "# loaded\nTMI_HandleOpen PW-A USB:1:1\nTMI_ModelNameQ 7\n");

    EXPECT_EQ(close(), 0);
    EXPECT_EQ(TMI_DeviceId, 0);
    EXPECT_FALSE(libraryLoaded("complete"));
    EXPECT_THAT(fileLogLines(),
                testing::ElementsAre("# loaded", "TMI_HandleOpen PW-A USB:1:1", "TMI_ModelNameQ 7", "TMI_RemoteLocal 7",
                                     "TMI_HandleClose 7"));
}

TEST_F(DriverTest, NoLibraryLeavesEverythingUnboundAndCallsNothing)
{
    useFake("none");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(TMI_Open(), 0);
    EXPECT_EQ(TMI_Test(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "FALSE =0 TRUE=1\n");
    // One line with the reason, which the pop-up does not give.
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_THAT(said, testing::StartsWith("Cannot load TMI_API.dll: libTMI_API.so not found in "));
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_EQ(TMI_APIDll, nullptr);
    EXPECT_EQ(countBound(), 0);
    // No entry to call: a negative handle, which start-up reports.
    EXPECT_LT(TMI_OpenHandle(dev, usb), 0);
    EXPECT_EQ(close(), 0);
    EXPECT_LT(TMI_DeviceId, 0) << "nothing was open, so nothing was closed";
}

TEST_F(DriverTest, LibraryWithoutHandleCloseBindsTheOther38)
{
    useFake("no-HandleClose");
    testing::internal::CaptureStdout();
    EXPECT_EQ(TMI_Open(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "FALSE =0 TRUE=1\n");
    EXPECT_EQ(countBound(), 38);
    EXPECT_EQ(TMI_HandleClose, nullptr);
    EXPECT_NE(TMI_APIDll, nullptr) << "the library stays loaded after a failed lookup";

    EXPECT_EQ(TMI_OpenHandle(dev, usb), 7);
    testing::internal::CaptureStdout();
    EXPECT_EQ(TMI_Test(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(fakeLog(), "# loaded\nTMI_HandleOpen PW-A USB:1:1\n") << "TMI_Test queries nothing";

    // The connection is open but cannot be closed: hand back what can be.
    close();
    EXPECT_EQ(TMI_DeviceId, 0);
    EXPECT_FALSE(libraryLoaded("no-HandleClose"));
    EXPECT_THAT(fileLogLines(), testing::ElementsAre("# loaded", "TMI_HandleOpen PW-A USB:1:1", "TMI_RemoteLocal 7"));
}

TEST_F(DriverTest, LibraryWithoutDelayBindsExactlyTheFirstTenInBindingOrder)
{
    useFake("no-Delay");
    EXPECT_EQ(TMI_Open(), 0);
    const std::set<std::string> firstTen = {"TMI_HandleOpen", "TMI_TimeOut",    "TMI_Refresh", "TMI_ModelNameQ",
                                            "TMI_Voltage",    "TMI_VoltageQ",   "TMI_Current", "TMI_CurrentQ",
                                            "TMI_MainOutput", "TMI_MainOutputQ"};
    for (const auto& [name, isBound] : boundEntries())
        EXPECT_EQ(isBound, firstTen.count(name) == 1) << name;
    EXPECT_EQ(TMI_Test(), 0);
}

TEST_F(DriverTest, ExtraExportsAreIgnored)
{
    useFake("extra");
    EXPECT_EQ(TMI_Open(), 1);
    EXPECT_EQ(countBound(), 39);
    EXPECT_EQ(TMI_Test(), 1);
}

TEST_F(DriverTest, HandleIsStoredAsReturnedAndClosedWhateverItsSign)
{
    useFake("complete");
    setenv("TMI_FAKE_HANDLE", "-5", 1);
    ASSERT_EQ(TMI_Open(), 1);
    EXPECT_EQ(TMI_OpenHandle(dev, usb), -5);
    EXPECT_EQ(TMI_DeviceId, -5);
    close();
    EXPECT_EQ(TMI_DeviceId, 0);
    EXPECT_THAT(fileLogLines(),
                testing::ElementsAre("# loaded", "TMI_HandleOpen PW-A USB:1:1", "TMI_RemoteLocal -5",
                                     "TMI_HandleClose -5"));
}

TEST_F(DriverTest, CloseWithoutConnectionOnlyUnloads)
{
    useFake("complete");
    ASSERT_EQ(TMI_Open(), 1);
    EXPECT_TRUE(libraryLoaded("complete"));
    close();
    EXPECT_FALSE(libraryLoaded("complete"));
    EXPECT_THAT(fileLogLines(), testing::ElementsAre("# loaded"));
}

TEST_F(DriverTest, LibraryPlantedInTheWorkingDirectoryIsNeverLoaded)
{
    const std::string dir = makeTempDir();
    for (const char* name : {"libTMI_API.so", "TMI_API.dll"})
        std::filesystem::copy_file(fakeDir("complete") + "/libTMI_API.so", dir + "/" + name);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    // Empty and relative entries would make the dynamic linker look here.
    for (const char* path : {"", ".", ":", "lib:.", "./"}) {
        setenv("LD_LIBRARY_PATH", path, 1);
        TMI_APIDll = nullptr;
        EXPECT_EQ(TMI_Open(), 0) << "LD_LIBRARY_PATH='" << path << "'";
        close();
    }
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);
}

TEST_F(DriverTest, LoadingSaysWhichFileItLoadedAndWhyALoadFailed)
{
    const std::string dir = makeTempDir();
    setenv("LD_LIBRARY_PATH", (dir + ":" + fakeDir("complete")).c_str(), 1);
    HINSTANCE library = LoadLibraryA("TMI_API.dll");
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    char path[4096];
    ASSERT_GT(GetModuleFileNameA(library, path, sizeof path), 0u);
    EXPECT_EQ(std::string(path), fakeDir("complete") + "/libTMI_API.so");
    EXPECT_EQ(GetProcAddress(library, "TMI_NoSuchThing"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_THAT(LastLoadErrorText(), testing::HasSubstr("TMI_NoSuchThing"));
    FreeLibrary(library);

    // The first file found is the one meant: one that is no library is
    // reported as such, not passed over for the one after it.
    writeFile(dir + "/libTMI_API.so", "not a library\n");
    EXPECT_EQ(LoadLibraryA("TMI_API.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
    EXPECT_THAT(LastLoadErrorText(), testing::HasSubstr(dir + "/libTMI_API.so"));

    setenv("LD_LIBRARY_PATH", dir.c_str(), 1);
    std::filesystem::remove(dir + "/libTMI_API.so");
    EXPECT_EQ(LoadLibraryA("TMI_API.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_THAT(LastLoadErrorText(), testing::StartsWith("libTMI_API.so not found in " + dir + ", "));
    std::filesystem::remove_all(dir);
}

TEST_F(DriverTest, BulkReadRefreshesOnceThenQueriesAllFourChannels)
{
    useFake("complete");
    ASSERT_EQ(TMI_Open(), 1);
    TMI_OpenHandle(dev, usb);
    clearFakeLog();
    gMask = 0; // the bulk read does not look at the mask
    double I[5] = {-1, -1, -1, -1, 99}, V[5] = {-1, -1, -1, -1, 99};
    unsigned char mode = 42, onoff = 43;
    TMI_ReadCurrent(I, V, &mode, &onoff);
    EXPECT_EQ(fakeLog(),
              "TMI_TimeOut 7 1\nTMI_Refresh 7\nTMI_MoniDataQ 7 1\nTMI_MoniDataQ 7 2\nTMI_MoniDataQ 7 3\n"
              "TMI_MoniDataQ 7 4\n");
    for (int ch = 1; ch <= 4; ++ch) {
        EXPECT_EQ(I[ch - 1], fakeMoniAmps(ch));
        EXPECT_EQ(V[ch - 1], fakeMoniVolts(ch));
    }
    EXPECT_EQ(I[4], 99);
    EXPECT_EQ(V[4], 99);
    EXPECT_EQ(mode, 42);
    EXPECT_EQ(onoff, 43);
}

TEST_F(DriverTest, SweepAndBulkReadYieldNoReadingWithoutALibrary)
{
    useFake("none");
    TMI_Open();
    const TMI_MonitorReading reading = TMI_MonitorSweep(0);
    EXPECT_TRUE(std::isnan(reading.voltage));
    EXPECT_TRUE(std::isnan(reading.current));
    EXPECT_EQ(reading.cv_cc, static_cast<char>(CVCC_BEFORE_READING));
    double I[4], V[4];
    TMI_ReadCurrent(I, V, nullptr, nullptr);
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_TRUE(std::isnan(I[ch]) && std::isnan(V[ch])) << ch;
}
