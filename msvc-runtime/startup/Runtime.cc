// The static part of MSVC's runtime library that every MSVC-built module
// links, for modules that run on Wine's runtime DLLs: MSVC links it from
// vcruntime.lib / msvcrt.lib / msvcprt.lib, which are not open source. The
// entry points are in DllStartup.cc and ExeStartup.cc; this file holds what
// both need:
//
//   - the tables of initialisers the compiler fills (.CRT$XC*, .CRT$XI*);
//   - atexit: a table of the module's own in a DLL (run when it unloads),
//     ucrtbase's process-wide one in an EXE (run by exit);
//   - operator new and delete over ucrtbase's heap, with the new handler;
//   - thread-safe initialisation of function-local statics (_Init_thread_*);
//   - the TLS directory, which those statics' epoch counter needs;
//   - the /GS security cookie and its check;
//   - the load configuration directory (the cookie's address and the
//     Control Flow Guard tables, for the loader) and the guard's check
//     and dispatch pointers;
//   - __chkstk, _fltused, __isa_available, type_info's virtual table, the
//     list of type names vcruntime140 caches, std::nothrow.
//
// Built with /GS-: the cookie is set while this code's frames are live.
#include "msvc-runtime/startup/Runtime.h"

#include <corecrt_startup.h>
#include <malloc.h>
#include <stdlib.h>

#include <new>
#include <typeinfo>

#pragma comment(linker, "/merge:.CRT=.rdata")

extern "C" {

// --- Windows functions used here (kernel32) --------------------------------
struct SrwLock { void* ptr; };
struct ConditionVariable { void* ptr; };
__declspec(dllimport) void __stdcall AcquireSRWLockExclusive(SrwLock* lock);
__declspec(dllimport) void __stdcall ReleaseSRWLockExclusive(SrwLock* lock);
__declspec(dllimport) int __stdcall SleepConditionVariableSRW(ConditionVariable* condition, SrwLock* lock,
                                                             unsigned long milliseconds, unsigned long flags);
__declspec(dllimport) void __stdcall WakeAllConditionVariable(ConditionVariable* condition);
__declspec(dllimport) int __stdcall QueryPerformanceCounter(long long* counter);
__declspec(dllimport) unsigned long __stdcall GetCurrentProcessId(void);
__declspec(dllimport) unsigned long __stdcall GetCurrentThreadId(void);
__declspec(dllimport) void __stdcall GetSystemTimeAsFileTime(unsigned long long* time);

// --- ucrtbase and vcruntime140 (beyond <corecrt_startup.h>) -----------------
__declspec(dllimport) void __cdecl _initterm(_PVFV* first, _PVFV* last);
__declspec(dllimport) int __cdecl _initterm_e(_PIFV* first, _PIFV* last);
__declspec(dllimport) int __cdecl _callnewh(size_t size);
__declspec(dllimport) void __cdecl __std_type_info_destroy_list(void* root);
__declspec(dllimport) __declspec(noreturn) void __cdecl __report_gsfailure(uintptr_t cookie);

// --- initialiser tables -----------------------------------------------------
// The compiler puts a pointer to each translation unit's dynamic
// initialiser in .CRT$XCU (C++) and C initialisers in .CRT$XIU; the linker
// sorts the sections by name, so these markers bracket them.
#pragma section(".CRT$XIA", read)
#pragma section(".CRT$XIZ", read)
#pragma section(".CRT$XCA", read)
#pragma section(".CRT$XCZ", read)
__declspec(allocate(".CRT$XIA")) _PIFV __xi_a[] = {nullptr};
__declspec(allocate(".CRT$XIZ")) _PIFV __xi_z[] = {nullptr};
__declspec(allocate(".CRT$XCA")) _PVFV __xc_a[] = {nullptr};
__declspec(allocate(".CRT$XCZ")) _PVFV __xc_z[] = {nullptr};

// --- TLS directory ----------------------------------------------------------
// The loader copies .tls (between these markers) for every thread and
// stores the slot in _tls_index, which compiled code reads to find a
// thread's copy.
#pragma section(".tls", read, write)
#pragma section(".tls$ZZZ", read, write)
#pragma section(".CRT$XLA", read)
#pragma section(".CRT$XLZ", read)
#pragma section(".rdata$T", read)
unsigned long _tls_index = 0;
__declspec(allocate(".tls")) char _tls_start = 0;
__declspec(allocate(".tls$ZZZ")) char _tls_end = 0;
using TlsCallback = void(__stdcall*)(void*, unsigned long, void*);
__declspec(allocate(".CRT$XLA")) TlsCallback __xl_a = nullptr;
__declspec(allocate(".CRT$XLZ")) TlsCallback __xl_z = nullptr;

struct TlsDirectory {
    unsigned long long startOfRawData;
    unsigned long long endOfRawData;
    unsigned long long addressOfIndex;
    unsigned long long addressOfCallbacks;
    unsigned long sizeOfZeroFill;
    unsigned long characteristics;
};
extern __declspec(allocate(".rdata$T")) const TlsDirectory _tls_used;
__declspec(allocate(".rdata$T")) const TlsDirectory _tls_used = {
    reinterpret_cast<unsigned long long>(&_tls_start), reinterpret_cast<unsigned long long>(&_tls_end),
    reinterpret_cast<unsigned long long>(&_tls_index), reinterpret_cast<unsigned long long>(&__xl_a + 1), 0, 0};

// --- the /GS cookie ---------------------------------------------------------
// MSVC's default value; replaced at start-up, before any initialiser runs.
uintptr_t __security_cookie = 0x00002B992DDFA232ull;

void __cdecl __security_init_cookie(void) {
    long long counter = 0;
    QueryPerformanceCounter(&counter);
    unsigned long long time = 0;
    GetSystemTimeAsFileTime(&time);
    uintptr_t cookie = static_cast<uintptr_t>(counter) ^ (static_cast<uintptr_t>(counter) << 32) ^ time ^
                       GetCurrentProcessId() ^ (static_cast<uintptr_t>(GetCurrentThreadId()) << 16) ^
                       reinterpret_cast<uintptr_t>(&cookie);
    cookie &= 0x0000FFFFFFFFFFFFull;  // as MSVC's: the top bits stay clear
    if (cookie == 0x00002B992DDFA232ull || cookie == 0) {
        cookie = 0x00002B992DDFA233ull;
    }
    __security_cookie = cookie;
}

void __cdecl __security_check_cookie(uintptr_t cookie) {
    if (cookie != __security_cookie) {
        __report_gsfailure(cookie);  // 0xC0000409, the process ends
    }
}

// --- the load configuration and Control Flow Guard ---------------------------
// The loader reads the load configuration directory, which the linker finds
// by the name _load_config_used: where the /GS cookie is (the loader
// replaces MSVC's default value with a random one before any code of the
// module runs) and, with /guard:cf, the guard's tables. lld-link defines the
// __guard_* symbols: the counts and flags as absolute values (0 without
// /guard:cf), the tables as addresses in the image. Written in assembly:
// GuardFlags is a 32-bit field that holds an absolute symbol's value, which
// C++ cannot initialise statically. The layout is IMAGE_LOAD_CONFIG_DIRECTORY64
// of the Windows 10 SDK (0x140 bytes); fields left 0 are unused here.
//
// Code compiled with /guard:cf makes every indirect call through
// __guard_dispatch_icall_fptr, the target in RAX. Until the loader of a
// Windows that enforces the guard puts its own check there, the pointers
// hold the functions below: the dispatch jumps to the target, the check
// returns. (Wine does not enforce the guard, so they stay.) They live in
// .00cfg, merged into .rdata: read-only, the loader unprotects them.
__asm__(
    ".text\n"
    ".p2align 4\n"
    "sapp_guard_check_icall_nop:\n"
    "    retq\n"
    ".p2align 4\n"
    "sapp_guard_dispatch_icall_nop:\n"
    "    jmpq *%rax\n"
    ".section .00cfg,\"dr\"\n"
    ".p2align 3\n"
    ".globl __guard_check_icall_fptr\n"
    "__guard_check_icall_fptr:\n"
    "    .quad sapp_guard_check_icall_nop\n"
    ".globl __guard_dispatch_icall_fptr\n"
    "__guard_dispatch_icall_fptr:\n"
    "    .quad sapp_guard_dispatch_icall_nop\n"
    ".section .rdata,\"dr\"\n"
    ".p2align 3\n"
    ".globl _load_config_used\n"
    "_load_config_used:\n"
    "    .long 0x140\n"                          // 0x00 Size
    "    .long 0, 0, 0, 0, 0\n"                  // 0x04 TimeDateStamp .. CriticalSectionDefaultTimeout
    "    .quad 0, 0, 0, 0, 0, 0\n"               // 0x18 DeCommitFreeBlockThreshold .. ProcessAffinityMask
    "    .long 0\n"                              // 0x48 ProcessHeapFlags
    "    .short 0, 0\n"                          // 0x4C CSDVersion, DependentLoadFlags
    "    .quad 0\n"                              // 0x50 EditList
    "    .quad __security_cookie\n"              // 0x58 SecurityCookie
    "    .quad 0, 0\n"                           // 0x60 SEHandlerTable, SEHandlerCount (x86 only)
    "    .quad __guard_check_icall_fptr\n"       // 0x70 GuardCFCheckFunctionPointer
    "    .quad __guard_dispatch_icall_fptr\n"    // 0x78 GuardCFDispatchFunctionPointer
    "    .quad __guard_fids_table\n"             // 0x80 GuardCFFunctionTable
    "    .quad __guard_fids_count\n"             // 0x88 GuardCFFunctionCount
    "    .long __guard_flags\n"                  // 0x90 GuardFlags
    "    .short 0, 0\n"                          // 0x94 CodeIntegrity: Flags, Catalog
    "    .long 0, 0\n"                           //      CatalogOffset, Reserved
    "    .quad __guard_iat_table\n"              // 0xA0 GuardAddressTakenIatEntryTable
    "    .quad __guard_iat_count\n"              // 0xA8 GuardAddressTakenIatEntryCount
    "    .quad __guard_longjmp_table\n"          // 0xB0 GuardLongJumpTargetTable
    "    .quad __guard_longjmp_count\n"          // 0xB8 GuardLongJumpTargetCount
    "    .quad 0, 0, 0, 0\n"                     // 0xC0 DynamicValueRelocTable .. GuardRFFailureRoutineFunctionPointer
    "    .long 0\n"                              // 0xE0 DynamicValueRelocTableOffset
    "    .short 0, 0\n"                          // 0xE4 DynamicValueRelocTableSection, Reserved2
    "    .quad 0\n"                              // 0xE8 GuardRFVerifyStackPointerFunctionPointer
    "    .long 0, 0\n"                           // 0xF0 HotPatchTableOffset, Reserved3
    "    .quad 0, 0\n"                           // 0xF8 EnclaveConfigurationPointer, VolatileMetadataPointer
    "    .quad __guard_eh_cont_table\n"          // 0x108 GuardEHContinuationTable
    "    .quad __guard_eh_cont_count\n"          // 0x110 GuardEHContinuationCount
    "    .quad 0, 0, 0, 0, 0\n");                // 0x118 the XFG pointers .. GuardMemcpyFunctionPointer
#pragma comment(linker, "/merge:.00cfg=.rdata")

// --- small items the compiler refers to -------------------------------------
int _fltused = 0x9875;                  // "this module uses floating point"
int __isa_available = 1;                // __ISA_AVAILABLE_SSE2: the STL takes its portable paths
int __favor = 0;

// vcruntime140 caches the readable names of type_info::name() in a list
// whose head lives in each module (an SLIST_HEADER: 16 bytes, aligned).
struct alignas(16) __type_info_node {
    unsigned long long header[2];
};
__type_info_node __type_info_root_node = {};

// Stack probe: touches every page between the stack pointer and the new
// frame (RAX bytes) so the guard page moves down one page at a time. Keeps
// every register; the caller then moves RSP itself.
__asm__(
    ".text\n"
    ".globl __chkstk\n"
    "__chkstk:\n"
    "    pushq %rcx\n"
    "    pushq %rax\n"
    "    cmpq $0x1000, %rax\n"
    "    leaq 24(%rsp), %rcx\n"
    "    jb 1f\n"
    "2:\n"
    "    subq $0x1000, %rcx\n"
    "    testq %rcx, (%rcx)\n"
    "    subq $0x1000, %rax\n"
    "    cmpq $0x1000, %rax\n"
    "    ja 2b\n"
    "1:\n"
    "    subq %rax, %rcx\n"
    "    testq %rcx, (%rcx)\n"
    "    popq %rax\n"
    "    popq %rcx\n"
    "    retq\n");

}  // extern "C"

// type_info's virtual table: one slot, its deleting destructor. The
// compiler's type descriptors point at it; nothing ever deletes one.
static void* __cdecl typeInfoDeletingDestructor(void* self, unsigned) {
    return self;
}
extern "C" const void* const sappTypeInfoVftable[] __asm__("??_7type_info@@6B@");
extern "C" const void* const sappTypeInfoVftable[] = {reinterpret_cast<const void*>(&typeInfoDeletingDestructor)};

namespace std {
const nothrow_t nothrow{};
}

// --- start-up and shut-down -------------------------------------------------
namespace {
_onexit_table_t moduleExitTable = {};
bool isDll = false;
}  // namespace

namespace sapp_runtime {

void initializeModule(bool dll) {
    isDll = dll;
    if (dll) {
        _initialize_onexit_table(&moduleExitTable);
    }
}

bool runInitializers() {
    if (_initterm_e(__xi_a, __xi_z) != 0) {
        return false;
    }
    _initterm(__xc_a, __xc_z);
    return true;
}

void runModuleExitTable() {
    _execute_onexit_table(&moduleExitTable);
    __std_type_info_destroy_list(&__type_info_root_node);
}

}  // namespace sapp_runtime

extern "C" int __cdecl atexit(void(__cdecl* function)(void)) {
    if (isDll) {
        return _register_onexit_function(&moduleExitTable, reinterpret_cast<_onexit_t>(function));
    }
    return _crt_atexit(function);
}

extern "C" _onexit_t __cdecl _onexit(_onexit_t function) {
    return atexit(reinterpret_cast<void(__cdecl*)(void)>(function)) == 0 ? function : nullptr;
}

// --- operator new and delete ------------------------------------------------
// As MSVC's: retry through the new handler while it succeeds, then throw.
// A program may replace any of them (a test that counts allocations does):
// MSVC's library keeps each in an object of its own, so that a program's
// definition is the only one linked; these are weak definitions instead,
// which the linker drops for a program's own.
#define SAPP_REPLACEABLE __attribute__((weak))
SAPP_REPLACEABLE void* __cdecl operator new(size_t size) {
    for (;;) {
        if (void* block = malloc(size == 0 ? 1 : size)) {
            return block;
        }
        if (_callnewh(size) == 0) {
            throw std::bad_alloc();
        }
    }
}
SAPP_REPLACEABLE void* __cdecl operator new(size_t size, std::nothrow_t const&) noexcept {
    try {
        return operator new(size);
    } catch (...) {
        return nullptr;
    }
}
SAPP_REPLACEABLE void* __cdecl operator new[](size_t size) {
    return operator new(size);
}
SAPP_REPLACEABLE void* __cdecl operator new[](size_t size, std::nothrow_t const& tag) noexcept {
    return operator new(size, tag);
}
SAPP_REPLACEABLE void __cdecl operator delete(void* block) noexcept {
    free(block);
}
SAPP_REPLACEABLE void __cdecl operator delete(void* block, std::nothrow_t const&) noexcept {
    free(block);
}
SAPP_REPLACEABLE void __cdecl operator delete[](void* block) noexcept {
    free(block);
}
SAPP_REPLACEABLE void __cdecl operator delete[](void* block, std::nothrow_t const&) noexcept {
    free(block);
}
SAPP_REPLACEABLE void __cdecl operator delete(void* block, size_t) noexcept {
    free(block);
}
SAPP_REPLACEABLE void __cdecl operator delete[](void* block, size_t) noexcept {
    free(block);
}

SAPP_REPLACEABLE void* __cdecl operator new(size_t size, std::align_val_t alignment) {
    for (;;) {
        if (void* block = _aligned_malloc(size == 0 ? 1 : size, static_cast<size_t>(alignment))) {
            return block;
        }
        if (_callnewh(size) == 0) {
            throw std::bad_alloc();
        }
    }
}
SAPP_REPLACEABLE void* __cdecl operator new(size_t size, std::align_val_t alignment, std::nothrow_t const&) noexcept {
    try {
        return operator new(size, alignment);
    } catch (...) {
        return nullptr;
    }
}
SAPP_REPLACEABLE void* __cdecl operator new[](size_t size, std::align_val_t alignment) {
    return operator new(size, alignment);
}
SAPP_REPLACEABLE void* __cdecl operator new[](size_t size, std::align_val_t alignment, std::nothrow_t const& tag) noexcept {
    return operator new(size, alignment, tag);
}
SAPP_REPLACEABLE void __cdecl operator delete(void* block, std::align_val_t) noexcept {
    _aligned_free(block);
}
SAPP_REPLACEABLE void __cdecl operator delete(void* block, std::align_val_t, std::nothrow_t const&) noexcept {
    _aligned_free(block);
}
SAPP_REPLACEABLE void __cdecl operator delete[](void* block, std::align_val_t) noexcept {
    _aligned_free(block);
}
SAPP_REPLACEABLE void __cdecl operator delete[](void* block, std::align_val_t, std::nothrow_t const&) noexcept {
    _aligned_free(block);
}
SAPP_REPLACEABLE void __cdecl operator delete(void* block, size_t, std::align_val_t) noexcept {
    _aligned_free(block);
}
SAPP_REPLACEABLE void __cdecl operator delete[](void* block, size_t, std::align_val_t) noexcept {
    _aligned_free(block);
}

// --- thread-safe statics ----------------------------------------------------
// The compiler guards a function-local static with an int: 0 before, -1
// while a thread initialises it, then the global epoch at the time it was
// done. A thread whose own epoch (thread-local) is older than the guard's
// takes the slow path below, under one lock for the module.
namespace {
constexpr int kUninitialized = 0;
constexpr int kBeingInitialized = -1;
constexpr int kEpochStart = -2147483647 - 1;
SrwLock staticsLock = {};
ConditionVariable staticsDone = {};
}  // namespace

extern "C" {
int _Init_global_epoch = kEpochStart;
__declspec(thread) int _Init_thread_epoch = kEpochStart;

void __cdecl _Init_thread_header(int* guard) noexcept {
    AcquireSRWLockExclusive(&staticsLock);
    while (*guard == kBeingInitialized) {
        SleepConditionVariableSRW(&staticsDone, &staticsLock, 0xFFFFFFFFul, 0);
    }
    if (*guard == kUninitialized) {
        *guard = kBeingInitialized;  // this thread initialises it
    } else {
        _Init_thread_epoch = _Init_global_epoch;
    }
    ReleaseSRWLockExclusive(&staticsLock);
}

void __cdecl _Init_thread_abort(int* guard) noexcept {
    AcquireSRWLockExclusive(&staticsLock);
    *guard = kUninitialized;
    ReleaseSRWLockExclusive(&staticsLock);
    WakeAllConditionVariable(&staticsDone);
}

void __cdecl _Init_thread_footer(int* guard) noexcept {
    AcquireSRWLockExclusive(&staticsLock);
    ++_Init_global_epoch;
    *guard = _Init_global_epoch;
    _Init_thread_epoch = _Init_global_epoch;
    ReleaseSRWLockExclusive(&staticsLock);
    WakeAllConditionVariable(&staticsDone);
}
}  // extern "C"
