#include "dynload.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

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
    if (std::string exeDir = executableDirectory(); !exeDir.empty())
        dirs.push_back(std::move(exeDir));
    for (const char* dir : {"/usr/local/lib", "/usr/lib/" DYNLOAD_MULTIARCH, "/usr/lib", "/lib/" DYNLOAD_MULTIARCH, "/lib"})
        dirs.emplace_back(dir);
    return dirs;
}

} // namespace

HINSTANCE LoadLibraryA(const char* fileName)
{
    if (!fileName || !*fileName)
        return nullptr;
    const std::string name = posixFileName(fileName);
    if (name.find('/') != std::string::npos)
        return dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);

    for (const std::string& dir : searchDirectories()) {
        const std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), F_OK) == 0)
            return dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    return nullptr;
}

FARPROC GetProcAddress(HINSTANCE library, const char* name)
{
    if (!library || !name)
        return nullptr;
    return reinterpret_cast<FARPROC>(dlsym(library, name));
}

int FreeLibrary(HINSTANCE library)
{
    if (!library)
        return 0;
    return dlclose(library) == 0 ? 1 : 0;
}
