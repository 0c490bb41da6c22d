// The platform's process calls: where this executable is, running a copy of
// it with its standard output captured, the machine's name, and how much
// memory a process uses. The only platform-specific code of sapp-host
// besides loading the module (ModuleLibrary).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sapphost {

// Full path of the running executable; empty when it cannot be determined.
std::string selfExecutablePath();

struct ChildResult {
    bool exited = false;  // false: ended by a signal (POSIX), stopped at its time limit, or never started
    int code = 0;         // exit code, or the signal number
    // The child ran past its time limit (ChildLimit) and was stopped; its
    // output is what it wrote until then.
    bool timedOut = false;
    uint64_t limitSeconds = 0;  // the limit it ran past
    std::string output;   // everything the child wrote to its standard output
    std::string error;    // why the child could not be started, if it was not
    uint64_t peakResident = 0;  // the child's peak resident set (working set) in bytes; 0 if unknown

    // "exit code 3", "signal 11 (Segmentation fault)", "no end within 5 s",
    // ...
    std::string describe() const;
};

// How long a child may run before it is stopped.
struct ChildLimit {
    uint64_t seconds = 0;  // 0: no limit
    // A line of the child's output that starts with this gives it `seconds`
    // again from there (empty: none): for a child that plays one run after
    // another, each under the limit.
    std::string restartTag;
};

// Runs `executable` with `args` (without the program name), its standard
// input shared with this process and its standard output captured, and
// waits for it to end, or, past `limit`, stops it (SIGKILL, TerminateProcess)
// and says so (timedOut). Its standard error is this process's too, or,
// when `errorFile` is given, that file (created or emptied first). Safe to
// call from several threads at once: no child inherits another's pipe. On
// Windows, a start that Wine fails (the new process dies in Wine's loader,
// ERROR_INTERNAL_ERROR) is made once more, and said on standard error.
ChildResult runChild(const std::string& executable, const std::vector<std::string>& args,
                     const std::string& errorFile = {}, const ChildLimit& limit = {});

// The name of this machine; empty when it cannot be told.
std::string hostName();

// Called first in a child process: on Windows, a crash ends the process with
// its exception code instead of opening an error dialog.
void prepareChildProcess();

struct MemoryUse {
    // Bytes the allocator has handed out and not got back: glibc's count,
    // AddressSanitizer's under it, the private bytes on Windows.
    uint64_t heapInUse = 0;
    uint64_t peakResident = 0;  // the process's peak resident set (working set)
};
MemoryUse memoryUse();

}  // namespace sapphost
