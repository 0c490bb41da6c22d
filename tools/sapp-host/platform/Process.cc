#include "tools/sapp-host/platform/Process.h"

#include <cstddef>
#include <cstdio>

#if defined(_WIN32)
#  include <windows.h>
#  include <psapi.h>
#else
#  include <malloc.h>
#  include <sys/resource.h>
#  include <cerrno>
#  include <cstring>
#  include <csignal>
#  include <fcntl.h>
#  include <spawn.h>
#  include <sys/wait.h>
#  include <unistd.h>
extern char** environ;
#endif

#if defined(__SANITIZE_ADDRESS__)
#  define SAPP_HOST_ASAN 1
#elif defined(__has_feature)
#  if __has_feature(address_sanitizer)
#    define SAPP_HOST_ASAN 1
#  endif
#endif
#if defined(SAPP_HOST_ASAN)
// The sanitizer's count of bytes in use (its allocator replaces malloc's, so
// mallinfo knows nothing). Declared here: GCC ships no header for it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace sapphost {

#if defined(_WIN32)

namespace {

// One argument quoted the way the C runtime splits a command line.
std::string quoteArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, '\\');
    out.push_back('"');
    return out;
}

}  // namespace

std::string selfExecutablePath() {
    char buffer[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    return n == 0 || n >= sizeof buffer ? std::string() : std::string(buffer, n);
}

std::string ChildResult::describe() const {
    if (!error.empty()) return error;
    char text[32];
    std::snprintf(text, sizeof text, code < 0 || code > 255 ? "exit code 0x%08x" : "exit code %u",
                  static_cast<unsigned>(code));
    return text;
}

ChildResult runChild(const std::string& executable, const std::vector<std::string>& args,
                     const std::string& errorFile) {
    ChildResult result;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE errorHandle = GetStdHandle(STD_ERROR_HANDLE);
    if (!errorFile.empty()) {
        errorHandle = CreateFileA(errorFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (errorHandle == INVALID_HANDLE_VALUE) {
            result.error = "cannot create " + errorFile + " (error " + std::to_string(GetLastError()) + ")";
            return result;
        }
    }
    const auto closeErrorFile = [&] {
        if (!errorFile.empty()) CloseHandle(errorHandle);
    };
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        closeErrorFile();
        result.error = "cannot create a pipe";
        return result;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    std::string commandLine = quoteArgument(executable);
    for (const std::string& arg : args) commandLine += " " + quoteArgument(arg);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = errorHandle;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessA(executable.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    CloseHandle(writeEnd);
    closeErrorFile();
    if (!started) {
        CloseHandle(readEnd);
        result.error = "cannot start " + executable + " (error " + std::to_string(GetLastError()) + ")";
        return result;
    }
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0) result.output.append(buffer, n);
    CloseHandle(readEnd);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    PROCESS_MEMORY_COUNTERS counters{};
    if (K32GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters)) {
        result.peakResident = counters.PeakWorkingSetSize;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    result.exited = true;
    result.code = static_cast<int>(code);
    return result;
}

void prepareChildProcess() { SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX); }

std::string hostName() {
    char buffer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD n = sizeof buffer;
    return GetComputerNameA(buffer, &n) ? std::string(buffer, n) : std::string();
}

#else

std::string selfExecutablePath() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    return n <= 0 || n >= static_cast<ssize_t>(sizeof buffer) ? std::string() : std::string(buffer, n);
}

std::string ChildResult::describe() const {
    if (!error.empty()) return error;
    if (exited) return "exit code " + std::to_string(code);
    return "signal " + std::to_string(code) + " (" + strsignal(code) + ")";
}

ChildResult runChild(const std::string& executable, const std::vector<std::string>& args,
                     const std::string& errorFile) {
    ChildResult result;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        result.error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    if (!errorFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, executable.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (spawned != 0) {
        close(pipeEnds[0]);
        result.error = "cannot start " + executable + ": " + std::strerror(spawned);
        return result;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(pipeEnds[0], buffer, sizeof buffer);
        if (n > 0) {
            result.output.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    close(pipeEnds[0]);
    int status = 0;
    struct rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    result.peakResident = static_cast<uint64_t>(usage.ru_maxrss) * 1024;
    if (WIFEXITED(status)) {
        result.exited = true;
        result.code = WEXITSTATUS(status);
    } else {
        result.code = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    return result;
}

void prepareChildProcess() {}

std::string hostName() {
    char buffer[256] = {};
    return gethostname(buffer, sizeof buffer - 1) == 0 ? std::string(buffer) : std::string();
}

#endif

MemoryUse memoryUse() {
    MemoryUse use;
#if defined(_WIN32)
    PROCESS_MEMORY_COUNTERS_EX counters{};
    if (K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                sizeof counters)) {
        use.heapInUse = counters.PrivateUsage;
        use.peakResident = counters.PeakWorkingSetSize;
    }
#else
#  if defined(SAPP_HOST_ASAN)
    use.heapInUse = __sanitizer_get_current_allocated_bytes();
#  else
    const struct mallinfo2 info = mallinfo2();
    use.heapInUse = info.uordblks + info.hblkhd;
#  endif
    struct rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) == 0) use.peakResident = static_cast<uint64_t>(usage.ru_maxrss) * 1024;
#endif
    return use;
}

}  // namespace sapphost
