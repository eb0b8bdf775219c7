#include "win_support.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string exeDir()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    return fs::path(path).parent_path().string();
}

// Quoted as the C runtime splits a command line.
std::string quoted(const std::string& arg)
{
    std::string out(1, '"');
    for (char c : arg) {
        if (c == '"')
            out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

HANDLE inheritableFile(const std::string& path)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

} // namespace

std::string buildDir()
{
    return fs::path(exeDir()).parent_path().string();
}

std::string makeTempDir(const std::string& tag)
{
    static std::atomic<int> counter{0};
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(sizeof temp, temp);
    const fs::path dir = fs::path(temp) /
        ("railmon-" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

void removeTree(const std::string& path)
{
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> readLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool exists(const std::string& path)
{
    return fs::exists(path);
}

std::vector<std::string> Run::lines() const
{
    std::vector<std::string> result;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

Run runProgram(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
               const EnvChanges& env)
{
    Run result;
    const std::string outDir = makeTempDir("output");
    const std::string outPath = outDir + "\\out.txt", errPath = outDir + "\\err.txt";
    HANDLE out = inheritableFile(outPath), err = inheritableFile(errPath);

    // The child inherits this process's environment, changed for the run.
    std::vector<std::pair<std::string, std::string>> saved;
    for (const auto& [name, value] : env) {
        char old[32768];
        const DWORD n = GetEnvironmentVariableA(name.c_str(), old, sizeof old);
        saved.emplace_back(name, n > 0 && n < sizeof old ? std::string(old, n) : std::string());
        SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
    }
    std::string commandLine = quoted(program);
    for (const std::string& arg : args) {
        commandLine += ' ';
        commandLine += quoted(arg);
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    const bool started = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        cwd.c_str(), &startup, &process);
    // Backwards, so a name changed twice gets its first value back.
    for (auto it = saved.rbegin(); it != saved.rend(); ++it)
        SetEnvironmentVariableA(it->first.c_str(), it->second.empty() ? nullptr : it->second.c_str());
    CloseHandle(out);
    CloseHandle(err);
    if (started) {
        // Every run ends in seconds; a hang is a failure, not a wait.
        if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0)
            TerminateProcess(process.hProcess, 124);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result.exitCode = static_cast<int>(code);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    } else {
        result.err = "cannot start " + program + ": error " + std::to_string(GetLastError());
    }
    // Standard output is text: "\r\n" on Windows.
    auto text = [](std::string bytes) {
        bytes.erase(std::remove(bytes.begin(), bytes.end(), '\r'), bytes.end());
        return bytes;
    };
    result.out = text(readFile(outPath));
    result.err += text(readFile(errPath));
    removeTree(outDir);
    return result;
}

ProbeRun runProbe(const std::string& root, const std::string& dll, const std::string& mode, const std::string& workDir,
                  const EnvChanges& env)
{
    static std::atomic<int> counter{0};
    ProbeRun probe;
    const fs::path base = fs::path(root) / ("probe-" + std::to_string(counter++));
    probe.appDir = (base / "app").string();
    probe.workDir = workDir.empty() ? (base / "work").string() : workDir;
    fs::create_directories(probe.appDir);
    fs::create_directories(probe.workDir);
    fs::create_directories(base / "tmp");
    fs::copy_file(fs::path(exeDir()) / "railmon_probe.exe", fs::path(probe.appDir) / "railmon_probe.exe");
    if (!dll.empty())
        fs::copy_file(dll, fs::path(probe.appDir) / "TMI_API.dll");
    // A folder of the probe's own for temporary files and the supply's lock.
    EnvChanges all = {{"TMP", (base / "tmp").string()},
                      {"TEMP", (base / "tmp").string()},
                      {"RAILMON_LOCK_DIR", (base / "tmp").string()}};
    all.insert(all.end(), env.begin(), env.end());
    probe.run = runProgram((fs::path(probe.appDir) / "railmon_probe.exe").string(), {mode}, probe.workDir, all);
    return probe;
}

std::string dllPath(const std::string& variant)
{
    const fs::path build = buildDir();
    if (variant == "sim" || variant == "x86")
        return (build / variant / "TMI_API.dll").string();
    return (build / "fakes" / variant / "TMI_API.dll").string();
}
