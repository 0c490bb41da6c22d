#include "tools/sapp-host/platform/Process.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>

#if defined(_WIN32)
#  include <windows.h>
#  include <psapi.h>
#  include <mutex>
#  include <thread>
#else
#  include <malloc.h>
#  include <sys/resource.h>
#  include <cerrno>
#  include <cstring>
#  include <csignal>
#  include <fcntl.h>
#  include <poll.h>
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

namespace {

// When a child must have ended by: `seconds` from its start, and again from
// each line of its output that starts with the restart tag.
class Deadline {
public:
    explicit Deadline(const ChildLimit& limit)
        : m_limit(limit), m_end(std::chrono::steady_clock::now() + std::chrono::seconds(limit.seconds)) {}

    bool limited() const { return m_limit.seconds != 0; }

    // Looks at the complete lines `output` has gained since the last look.
    void saw(const std::string& output) {
        for (std::size_t end; (end = output.find('\n', m_scanned)) != std::string::npos; m_scanned = end + 1) {
            const std::string& tag = m_limit.restartTag;
            if (!tag.empty() && output.compare(m_scanned, tag.size(), tag) == 0) {
                m_end = std::chrono::steady_clock::now() + std::chrono::seconds(m_limit.seconds);
            }
        }
    }

    // Milliseconds left, at most a minute at a time (the caller looks
    // again); 0 when the time is up.
    int leftMs() const {
        using std::chrono::milliseconds;
        const auto left = std::chrono::duration_cast<milliseconds>(m_end - std::chrono::steady_clock::now());
        return static_cast<int>(std::clamp<long long>(left.count(), 0, 60000));
    }

private:
    const ChildLimit& m_limit;
    std::chrono::steady_clock::time_point m_end;
    std::size_t m_scanned = 0;  // where the first line not looked at begins
};

}  // namespace

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
    if (timedOut) return "no end within " + std::to_string(limitSeconds) + " s (stopped)";
    char text[32];
    std::snprintf(text, sizeof text, code < 0 || code > 255 ? "exit code 0x%08x" : "exit code %u",
                  static_cast<unsigned>(code));
    return text;
}

ChildResult runChild(const std::string& executable, const std::vector<std::string>& args,
                     const std::string& errorFile, const ChildLimit& limit) {
    ChildResult result;
    result.limitSeconds = limit.seconds;
    // A child inherits every inheritable handle open at its start: while one
    // thread makes a child's pipe and starts it, no other may start one, or
    // that child would hold this pipe open (and its reader wait for it).
    static std::mutex starting;
    std::unique_lock<std::mutex> startLock(starting);
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
    // Wine now and then fails to start a process at all: the new process
    // dies in Wine's own loader before any of its code runs, and
    // CreateProcess reports that as ERROR_INTERNAL_ERROR. That start is made
    // once more, and said on standard error; the second outcome is final.
    // A start refused for any other reason (no such file, no access) is
    // reported at once.
    BOOL started = FALSE;
    DWORD startError = 0;
    for (int attempt = 1; attempt <= 2; ++attempt) {
        started = CreateProcessA(executable.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                 &startup, &process);
        startError = started ? 0 : GetLastError();
        if (started || startError != ERROR_INTERNAL_ERROR || attempt == 2) break;
        std::fprintf(stderr, "sapp-host: %s could not be started (error %lu: the process died while starting); "
                             "starting it once more\n",
                     executable.c_str(), static_cast<unsigned long>(startError));
    }
    CloseHandle(writeEnd);
    closeErrorFile();
    startLock.unlock();
    if (!started) {
        CloseHandle(readEnd);
        result.error = "cannot start " + executable + " (error " + std::to_string(startError) + ")";
        return result;
    }
    // An anonymous pipe cannot be waited on with a time limit: a thread
    // reads it while this one waits for the process.
    std::mutex reading;
    Deadline deadline(limit);
    std::thread reader([&] {
        char buffer[4096];
        DWORD n = 0;
        while (ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0) {
            const std::lock_guard<std::mutex> lock(reading);
            result.output.append(buffer, n);
            deadline.saw(result.output);
        }
    });
    for (;;) {
        DWORD wait = INFINITE;
        if (deadline.limited()) {
            const std::lock_guard<std::mutex> lock(reading);
            wait = static_cast<DWORD>(deadline.leftMs());
        }
        if (wait == 0) {
            // Refused when it has ended on its own, if only just now.
            result.timedOut = TerminateProcess(process.hProcess, 1) != 0;
            WaitForSingleObject(process.hProcess, INFINITE);
            break;
        }
        if (WaitForSingleObject(process.hProcess, wait) != WAIT_TIMEOUT) break;
    }
    // The pipe ends with the process, which held its only write end.
    reader.join();
    CloseHandle(readEnd);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    PROCESS_MEMORY_COUNTERS counters{};
    if (K32GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters)) {
        result.peakResident = counters.PeakWorkingSetSize;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    result.exited = !result.timedOut;
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
    if (timedOut) return "no end within " + std::to_string(limitSeconds) + " s (stopped)";
    if (exited) return "exit code " + std::to_string(code);
    return "signal " + std::to_string(code) + " (" + strsignal(code) + ")";
}

ChildResult runChild(const std::string& executable, const std::vector<std::string>& args,
                     const std::string& errorFile, const ChildLimit& limit) {
    ChildResult result;
    result.limitSeconds = limit.seconds;
    int pipeEnds[2];
    // Close-on-exec, so that a child another thread starts meanwhile does not
    // hold this pipe open; the dup2 onto standard output is the child's own.
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
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
    Deadline deadline(limit);
    bool limited = deadline.limited();
    char buffer[4096];
    for (;;) {
        if (limited) {
            pollfd ready{pipeEnds[0], POLLIN, 0};
            const int wait = deadline.leftMs();
            const int polled = wait == 0 ? 0 : poll(&ready, 1, wait);
            if (polled < 0 && errno == EINTR) continue;
            if (polled == 0 && deadline.leftMs() == 0) {
                // Past its time: stopped, and what it wrote is read to the end.
                kill(pid, SIGKILL);
                result.timedOut = true;
                limited = false;
                continue;
            }
            if (polled == 0) continue;
        }
        const ssize_t n = read(pipeEnds[0], buffer, sizeof buffer);
        if (n > 0) {
            result.output.append(buffer, static_cast<std::size_t>(n));
            deadline.saw(result.output);
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
        // It ended on its own, if only just before the limit.
        result.exited = true;
        result.timedOut = false;
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
