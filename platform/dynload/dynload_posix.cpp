#include "dynload.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

thread_local DWORD tLastError = 0;
thread_local std::string tLastErrorText;

void succeeded()
{
    tLastError = 0;
    tLastErrorText.clear();
}

void failed(DWORD code, std::string text)
{
    tLastError = code;
    tLastErrorText = std::move(text);
}

// The dynamic linker refused a file that is there: it is no library for
// this machine, whatever else it may be.
HINSTANCE open(const std::string& path)
{
    if (void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        succeeded();
        return handle;
    }
    const char* why = dlerror();
    failed(ERROR_BAD_EXE_FORMAT, why ? why : path + ": cannot be loaded");
    return nullptr;
}

// "TMI_API.dll" -> "libTMI_API.so"; any other name is taken as it stands.
std::string posixFileName(std::string_view name)
{
    constexpr std::string_view dll = ".dll";
    if (name.size() > dll.size() && name.ends_with(dll)) {
        name.remove_suffix(dll.size());
        return "lib" + std::string(name) + ".so";
    }
    return std::string(name);
}

std::string executableDirectory()
{
    std::string path(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0)
        return {};
    path.resize(static_cast<size_t>(n));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::vector<std::string> fallbackDirectories()
{
    const std::string exeDir = executableDirectory();
    if (exeDir.empty())
        return {};
    const std::string privateDir = (std::filesystem::path(exeDir) / DYNLOAD_PRIVATE_LIBDIR).lexically_normal().string();
    return {privateDir, exeDir};
}

// Where a library named without a directory is looked for, in order.
std::vector<std::string> searchDirectories()
{
    std::vector<std::string> dirs;
    if (const char* env = std::getenv("LD_LIBRARY_PATH")) {
        std::string_view rest(env);
        // Both ':' and ';' separate entries for the dynamic linker.
        while (!rest.empty()) {
            const auto end = rest.find_first_of(":;");
            const std::string_view entry = rest.substr(0, end);
            if (entry.starts_with('/'))
                dirs.emplace_back(entry);
            if (end == std::string_view::npos)
                break;
            rest.remove_prefix(end + 1);
        }
    }
    for (const char* dir : {"/usr/local/lib/" DYNLOAD_MULTIARCH, "/usr/local/lib", "/usr/lib/" DYNLOAD_MULTIARCH,
                            "/usr/lib", "/lib/" DYNLOAD_MULTIARCH, "/lib"})
        dirs.emplace_back(dir);
    for (std::string& dir : fallbackDirectories())
        dirs.push_back(std::move(dir));
    return dirs;
}

} // namespace

HINSTANCE LoadLibraryA(const char* fileName)
{
    if (!fileName || !*fileName) {
        failed(ERROR_MOD_NOT_FOUND, "no file name");
        return nullptr;
    }
    const std::string name = posixFileName(fileName);
    if (name.find('/') != std::string::npos) {
        if (access(name.c_str(), F_OK) != 0) {
            failed(ERROR_MOD_NOT_FOUND, name + ": " + std::strerror(errno));
            return nullptr;
        }
        return open(name);
    }

    std::string searched;
    for (const std::string& dir : searchDirectories()) {
        const std::string candidate = dir + "/" + name;
        // The first one there is the one meant: one that cannot be loaded
        // is reported, never passed over for the next.
        if (access(candidate.c_str(), F_OK) == 0)
            return open(candidate);
        searched += (searched.empty() ? "" : ", ") + dir;
    }
    failed(ERROR_MOD_NOT_FOUND, name + " not found in " + searched);
    return nullptr;
}

FARPROC GetProcAddress(HINSTANCE library, const char* name)
{
    if (!library || !name) {
        failed(ERROR_PROC_NOT_FOUND, "no library or no name");
        return nullptr;
    }
    dlerror();
    void* address = dlsym(library, name);
    if (!address) {
        failed(ERROR_PROC_NOT_FOUND, std::string("the library exports no ") + name);
        return nullptr;
    }
    succeeded();
    return reinterpret_cast<FARPROC>(address);
}

DWORD GetModuleFileNameA(HINSTANCE library, char* fileName, DWORD size)
{
    link_map* map = nullptr;
    if (!library || !fileName || size == 0 || dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name)
        return 0;
    const size_t length = std::min<size_t>(std::strlen(map->l_name), size - 1);
    std::memcpy(fileName, map->l_name, length);
    fileName[length] = '\0';
    return static_cast<DWORD>(length);
}

DWORD GetLastError(void)
{
    return tLastError;
}

const char* LastLoadErrorText(void)
{
    return tLastErrorText.c_str();
}

int FreeLibrary(HINSTANCE library)
{
    if (!library)
        return 0;
    return dlclose(library) == 0 ? 1 : 0;
}
