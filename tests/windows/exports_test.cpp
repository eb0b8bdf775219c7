// What the Windows DLLs export, read from their export tables: exactly the
// 39 names (the simulator with its mark), less the one a variant leaves out,
// plus the fake's own calls.
#include "tmi_api.h"
#include "win_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::vector<std::string> exportedNames(const std::string& path)
{
    std::vector<std::string> names;
    // Mapped as an image, but no code of it runs.
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!module)
        return {"(cannot load " + path + ")"};
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (dir.Size > 0) {
        const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
        const auto* nameRvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
        for (DWORD i = 0; i < exports->NumberOfNames; ++i)
            names.emplace_back(reinterpret_cast<const char*>(base + nameRvas[i]));
    }
    FreeLibrary(module);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

const std::vector<std::string> kDeclared = {
#define TMI_TEST_NAME(name, params) #name,
    TMI_API_FUNCTIONS(TMI_TEST_NAME)
#undef TMI_TEST_NAME
};
const std::vector<std::string> kFakeOwn = {"TMI_FakeCallLog", "TMI_FakeClearLog", "TMI_FakeNote"};

} // namespace

TEST(WindowsExports, TheSimulatorAndTheFakesExportExactlyTheirNames)
{
    std::vector<std::string> sim = kDeclared;
    sim.push_back(TMI_SIMULATED_SUPPLY_MARK);
    EXPECT_EQ(exportedNames(dllPath("sim")), sorted(sim));
    std::vector<std::string> fake = kDeclared;
    fake.insert(fake.end(), kFakeOwn.begin(), kFakeOwn.end());
    EXPECT_EQ(exportedNames(dllPath("complete")), sorted(fake));
    for (const std::string& missing : kDeclared) {
        std::vector<std::string> rest = fake;
        rest.erase(std::find(rest.begin(), rest.end(), missing));
        EXPECT_EQ(exportedNames(dllPath("no-" + missing.substr(4))), sorted(rest)) << missing;
    }
}
