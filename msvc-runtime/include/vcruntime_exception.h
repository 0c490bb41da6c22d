// std::exception and the allocation failures, in MSVC's layout: 24 bytes, the
// virtual-table pointer, then __std_exception_data (the message and whether
// the object owns a copy of it). vcruntime140.dll copies and frees the
// message, and MSVC's runtime DLLs throw these very types, so layout and
// virtual table must be MSVC's for a handler to catch them by type.
#pragma once
#include <vcruntime.h>
#include <eh.h>

#ifdef __cplusplus
extern "C++" {
#pragma pack(push, _CRT_PACKING)

extern "C" {
struct __std_exception_data {
    char const* _What;
    bool _DoFree;
};
__declspec(dllimport) void __cdecl __std_exception_copy(__std_exception_data const* from, __std_exception_data* to);
__declspec(dllimport) void __cdecl __std_exception_destroy(__std_exception_data* data);
}

namespace std {

class exception {
public:
    exception() noexcept : _Data() {}
    explicit exception(char const* const message) noexcept : _Data() {
        __std_exception_data init = {message, true};
        __std_exception_copy(&init, &_Data);
    }
    // A message that lives as long as the program: not copied.
    exception(char const* const message, int) noexcept : _Data() { _Data._What = message; }
    exception(exception const& other) noexcept : _Data() { __std_exception_copy(&other._Data, &_Data); }
    exception& operator=(exception const& other) noexcept {
        if (this == &other) {
            return *this;
        }
        __std_exception_destroy(&_Data);
        __std_exception_copy(&other._Data, &_Data);
        return *this;
    }
    virtual ~exception() noexcept { __std_exception_destroy(&_Data); }
    [[nodiscard]] virtual char const* what() const { return _Data._What ? _Data._What : "Unknown exception"; }

private:
    __std_exception_data _Data;
};

class bad_exception : public exception {
public:
    bad_exception() noexcept : exception("bad exception", 1) {}
};

class bad_alloc : public exception {
public:
    bad_alloc() noexcept : exception("bad allocation", 1) {}

private:
    friend class bad_array_new_length;
    bad_alloc(char const* const message) noexcept : exception(message, 1) {}
};

class bad_array_new_length : public bad_alloc {
public:
    bad_array_new_length() noexcept : bad_alloc("bad array new length") {}
};

}  // namespace std

#pragma pack(pop)
}  // extern "C++"
#endif
