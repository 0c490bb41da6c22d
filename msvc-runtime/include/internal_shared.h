// The two helpers of the C runtime's internal header that the standard
// library's separately compiled sources (filesystem.cpp, locale0.cpp) use:
// an owning pointer to a block of the C runtime's heap, and the typed
// allocation that fills one.
#pragma once
#include <stdlib.h>

#ifdef __cplusplus
template <class T>
class __crt_unique_heap_ptr {
public:
    __crt_unique_heap_ptr() noexcept = default;
    explicit __crt_unique_heap_ptr(T* block) noexcept : _Block(block) {}
    __crt_unique_heap_ptr(__crt_unique_heap_ptr&& other) noexcept : _Block(other.detach()) {}
    __crt_unique_heap_ptr& operator=(__crt_unique_heap_ptr&& other) noexcept {
        if (this != &other) {
            free(_Block);
            _Block = other.detach();
        }
        return *this;
    }
    __crt_unique_heap_ptr(__crt_unique_heap_ptr const&) = delete;
    __crt_unique_heap_ptr& operator=(__crt_unique_heap_ptr const&) = delete;
    ~__crt_unique_heap_ptr() { free(_Block); }

    T* get() const noexcept { return _Block; }
    T* detach() noexcept {
        T* block = _Block;
        _Block = nullptr;
        return block;
    }
    explicit operator bool() const noexcept { return _Block != nullptr; }

private:
    T* _Block = nullptr;
};

#define _malloc_crt_t(T, count) (__crt_unique_heap_ptr<T>(static_cast<T*>(malloc((count) * sizeof(T)))))
#endif
