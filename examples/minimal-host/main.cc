// A minimal host of the sapp module: loads the module file, opens one
// session on a stand-in session object, prints the packet URIs and client
// request types the module asks for, delivers one packet and shows what the
// module posted to the client side, then closes the session and releases
// the module. Exit status 0 when all of it worked, 1 otherwise.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <dlfcn.h>
#endif

#include "module/ISessionMod.h"
#include "standin/pktcore/StandinSession.h"

namespace {

using GetModuleFn = ISessionMod* (*)(ISession*);
using ReleaseModuleFn = void (*)(uint32_t);

constexpr uint32_t kSid = 1234;
// An announce-app notice (message 3203 of service 210); the module hands its
// body to the client side as event 2000.
constexpr uint32_t kAnnounceAppUri = 3203u << 8 | 210u;

// The module's two entry points, looked up by name; null when the file or a
// name is missing (the reason is printed).
struct EntryPoints {
    GetModuleFn getModule = nullptr;
    ReleaseModuleFn releaseModule = nullptr;
};

EntryPoints loadModule(const char* path) {
    EntryPoints entry;
#if defined(_WIN32)
    std::wstring widePath(MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path, -1, widePath.data(), static_cast<int>(widePath.size()));
    HMODULE library = LoadLibraryW(widePath.c_str());
    if (!library) {
        std::fprintf(stderr, "cannot load %s: error %lu\n", path, GetLastError());
        return entry;
    }
    entry.getModule = reinterpret_cast<GetModuleFn>(reinterpret_cast<void*>(GetProcAddress(library, "getModule")));
    entry.releaseModule =
        reinterpret_cast<ReleaseModuleFn>(reinterpret_cast<void*>(GetProcAddress(library, "releaseModule")));
#else
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
        return entry;
    }
    entry.getModule = reinterpret_cast<GetModuleFn>(dlsym(library, "getModule"));
    entry.releaseModule = reinterpret_cast<ReleaseModuleFn>(dlsym(library, "releaseModule"));
#endif
    if (!entry.getModule || !entry.releaseModule) std::fprintf(stderr, "%s lacks getModule or releaseModule\n", path);
    return entry;
}

// "number|service", the way the protocol names its URIs.
std::string uriName(uint32_t uri) { return std::to_string(uri >> 8) + "|" + std::to_string(uri & 0xFF); }

int run() {
    const EntryPoints entry = loadModule(SAPP_MODULE_FILE);
    if (!entry.getModule || !entry.releaseModule) return 1;
    std::printf("module: %s\n", SAPP_MODULE_FILE);

    standin::Session session(kSid);
    ISessionMod* module = entry.getModule(&session);

    std::vector<uint32_t> uris(module->getUriCount());
    module->getUris(uris.data());
    std::printf("packet URIs (%u):", static_cast<unsigned>(uris.size()));
    for (uint32_t uri : uris) std::printf(" %s", uriName(uri).c_str());
    std::vector<uint32_t> types(module->getReqTypeCount());
    module->getReqTypes(types.data());
    std::printf("\nclient request types (%u):", static_cast<unsigned>(types.size()));
    for (uint32_t type : types) std::printf(" %u", type);
    std::printf("\n");

    standin::Packet packet(kAnnounceAppUri, 200, std::string("\x01\x02\x03\x04\x05", 5));
    module->onPacket(kSid, &packet);
    const std::vector<standin::PostedEvent> events = session.events();
    std::printf("packet %s delivered; client events posted:", uriName(kAnnounceAppUri).c_str());
    for (const standin::PostedEvent& event : events) std::printf(" %u", event.type);
    std::printf("\n");

    module->onLeave(kSid);
    entry.releaseModule(kSid);
    std::printf("session closed, module released\n");
    return uris.empty() || types.empty() || events.empty() ? 1 : 0;
}

}  // namespace

int main() {
    try {
        return run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "the module threw: %s\n", e.what());
        return 1;
    }
}
