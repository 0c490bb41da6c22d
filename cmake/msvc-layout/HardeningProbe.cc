// A small DLL that the hardening check's own test (msvc_hardening_planted,
// cmake/msvc-layout/CheckHardening.py) links with one hardening flag left
// out, to show that the check fails on what the linker really writes. It
// holds one of each thing the rules look for: an indirect call (Control
// Flow Guard), a frame with a buffer whose address escapes (/GS), a catch
// (/guard:ehcont).
using Fill = void (*)(char* buffer, int size);
using Work = int (*)();

extern "C" __declspec(dllexport) int probeFill(Fill fill) {
    char buffer[64];
    fill(buffer, static_cast<int>(sizeof buffer));
    return buffer[0];
}

extern "C" __declspec(dllexport) int probeCatch(Work work) {
    try {
        return work();
    } catch (...) {
        return -1;
    }
}
