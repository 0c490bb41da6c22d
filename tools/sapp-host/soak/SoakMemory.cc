#include "tools/sapp-host/soak/SoakMemory.h"

#include <algorithm>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "tools/sapp-host/platform/Process.h"

namespace sapphost::soak {

namespace {

double mib(uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

}  // namespace

MemoryWatch::MemoryWatch(uint64_t steps) : m_steps(steps), m_started(std::chrono::steady_clock::now()) {}

void MemoryWatch::afterStep(uint64_t step, const std::string& sessions, std::size_t liveState) {
    const uint64_t tenth = step * 10 / m_steps;
    if (tenth == m_lastTenth) return;
    m_lastTenth = tenth;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
    const MemoryUse memory = memoryUse();
    m_checkpoints.push_back({step, liveState, memory.heapInUse});
    std::ostringstream line;
    line << std::fixed << std::setprecision(1) << "soak: " << std::setw(3) << step * 100 / m_steps << "% " << step
         << " in " << seconds << " s (" << std::setprecision(0) << static_cast<double>(step) / std::max(seconds, 1e-9)
         << "/s), " << sessions << ", live state " << liveState << ", heap " << std::setprecision(1)
         << mib(memory.heapInUse) << " MiB, peak RSS " << mib(memory.peakResident) << " MiB";
    std::cout << line.str() << std::endl;
}

bool MemoryWatch::verdict() const {
    std::size_t firstState = 0, lastState = 0;
    uint64_t firstHeap = 0, lastHeap = 0;
    for (const Checkpoint& c : m_checkpoints) {
        if (c.step * 2 <= m_steps) {
            firstState = std::max(firstState, c.liveState);
            firstHeap = std::max(firstHeap, c.heap);
        } else {
            lastState = c.liveState;
            lastHeap = c.heap;
        }
    }
    if (firstHeap == 0 || lastHeap == 0 || firstState == 0) {
        std::cout << "soak: too few checkpoints for a memory verdict\n";
        return true;
    }
    const double growth = std::max(1.0, static_cast<double>(lastState) / static_cast<double>(firstState));
    const auto allowed = static_cast<uint64_t>(static_cast<double>(firstHeap) * growth * 1.1) + (2u << 20);
    if (lastHeap > allowed) {
        std::cerr << std::fixed << std::setprecision(1) << "sapp-host soak: FAILED: the heap grew from "
                  << mib(firstHeap) << " MiB to " << mib(lastHeap) << " MiB (at most " << mib(allowed)
                  << " MiB allowed) while the live state went from " << firstState
                  << " at most in the first half to " << lastState << "\n";
        return false;
    }
    std::cout << std::fixed << std::setprecision(1) << "soak: heap " << mib(lastHeap) << " MiB at the end, "
              << mib(firstHeap) << " MiB at most in the first half (live state " << lastState << " and "
              << firstState << ")\n";
    return true;
}

}  // namespace sapphost::soak
