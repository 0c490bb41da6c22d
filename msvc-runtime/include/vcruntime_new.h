// operator new and delete, std::nothrow and std::align_val_t, declared as
// MSVC's compiler runtime declares them. The replaceable operators are
// defined by the static start-up code (msvc-runtime/startup/), over the C
// runtime's heap, as MSVC's static runtime library defines them.
#pragma once
#include <vcruntime.h>

#ifdef __cplusplus
extern "C++" {
#pragma pack(push, _CRT_PACKING)

namespace std {
enum class align_val_t : size_t {};
struct nothrow_t {
    explicit nothrow_t() = default;
};
extern nothrow_t const nothrow;
}  // namespace std

[[nodiscard]] __declspec(allocator) void* __cdecl operator new(size_t size);
[[nodiscard]] __declspec(allocator) void* __cdecl operator new(size_t size, std::nothrow_t const&) noexcept;
[[nodiscard]] __declspec(allocator) void* __cdecl operator new[](size_t size);
[[nodiscard]] __declspec(allocator) void* __cdecl operator new[](size_t size, std::nothrow_t const&) noexcept;
void __cdecl operator delete(void* block) noexcept;
void __cdecl operator delete(void* block, std::nothrow_t const&) noexcept;
void __cdecl operator delete[](void* block) noexcept;
void __cdecl operator delete[](void* block, std::nothrow_t const&) noexcept;
void __cdecl operator delete(void* block, size_t size) noexcept;
void __cdecl operator delete[](void* block, size_t size) noexcept;

[[nodiscard]] __declspec(allocator) void* __cdecl operator new(size_t size, std::align_val_t align);
[[nodiscard]] __declspec(allocator) void* __cdecl operator new(size_t size, std::align_val_t align,
                                                               std::nothrow_t const&) noexcept;
[[nodiscard]] __declspec(allocator) void* __cdecl operator new[](size_t size, std::align_val_t align);
[[nodiscard]] __declspec(allocator) void* __cdecl operator new[](size_t size, std::align_val_t align,
                                                                 std::nothrow_t const&) noexcept;
void __cdecl operator delete(void* block, std::align_val_t align) noexcept;
void __cdecl operator delete(void* block, std::align_val_t align, std::nothrow_t const&) noexcept;
void __cdecl operator delete[](void* block, std::align_val_t align) noexcept;
void __cdecl operator delete[](void* block, std::align_val_t align, std::nothrow_t const&) noexcept;
void __cdecl operator delete(void* block, size_t size, std::align_val_t align) noexcept;
void __cdecl operator delete[](void* block, size_t size, std::align_val_t align) noexcept;

#ifndef __PLACEMENT_NEW_INLINE
#define __PLACEMENT_NEW_INLINE
[[nodiscard]] inline void* __cdecl operator new(size_t, void* where) noexcept {
    return where;
}
inline void __cdecl operator delete(void*, void*) noexcept {}
#endif
#ifndef __PLACEMENT_VEC_NEW_INLINE
#define __PLACEMENT_VEC_NEW_INLINE
[[nodiscard]] inline void* __cdecl operator new[](size_t, void* where) noexcept {
    return where;
}
inline void __cdecl operator delete[](void*, void*) noexcept {}
#endif

#pragma pack(pop)
}  // extern "C++"
#endif
