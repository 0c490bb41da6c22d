// The data the compiler and vcruntime140 share to throw and catch C++
// exceptions under the Microsoft ABI on x64 (MSVC's internal <ehdata.h>,
// not open source), as far as the standard library's exception_ptr source
// (stl/src/excptptr.cpp) reads it. The layouts are fixed by the ABI: the
// compiler emits these records and vcruntime140 interprets them. On x64
// every reference inside them is relative to the image base of the module
// that threw (_EH_RELATIVE_TYPEINFO).
#pragma once
#include <windows.h>

#define _EH_RELATIVE_TYPEINFO 1

#define EH_EXCEPTION_NUMBER 0xE06D7363u  // 'msc' | 0xE0000000
#define EH_MAGIC_NUMBER1 0x19930520
#define EH_MAGIC_NUMBER2 0x19930521
#define EH_MAGIC_NUMBER3 0x19930522
#define EH_PURE_MAGIC_NUMBER1 0x01994000
#define EH_EXCEPTION_PARAMETERS 4  // magic, object, throw info, image base

// A pointer-to-member displacement: how to find a base class in an object.
typedef struct PMD {
    int mdisp;
    int pdisp;
    int vdisp;
} PMD;

typedef struct TypeDescriptor {
    void const* pVFTable;
    void* spare;
    char name[1];
} TypeDescriptor;

// CatchableType::properties
#define CT_IsSimpleType 0x00000001
#define CT_ByReferenceOnly 0x00000002
#define CT_HasVirtualBase 0x00000004
#define CT_IsWinRTHandle 0x00000008
#define CT_IsStdBadAlloc 0x00000010

// One type a thrown object can be caught as. (The records the compiler
// emits are read-only: MSVC's names for them are const types.)
typedef const struct _s_CatchableType {
    unsigned int properties;
    int pType;  // TypeDescriptor
    PMD thisDisplacement;
    int sizeOrOffset;
    int copyFunction;  // the copy constructor, 0 for memcpy
} CatchableType;

typedef const struct _s_CatchableTypeArray {
    int nCatchableTypes;
    int arrayOfCatchableTypes[1];  // CatchableType
} CatchableTypeArray;

// ThrowInfo::attributes
#define TI_IsConst 0x00000001
#define TI_IsVolatile 0x00000002
#define TI_IsUnaligned 0x00000004
#define TI_IsPure 0x00000008
#define TI_IsWinRT 0x00000010

// What a throw expression passes to _CxxThrowException.
typedef const struct _s_ThrowInfo {
    unsigned int attributes;
    int pmfnUnwind;  // the thrown object's destructor
    int pForwardCompat;
    int pCatchableTypeArray;
} ThrowInfo;

// A WinRT exception's information, found before its object; only its throw
// information is read.
typedef struct WINRTEXCEPTIONINFO {
    void* description;
    void* restrictedErrorString;
    void* restrictedErrorReference;
    void* capabilitySid;
    long hr;
    void* restrictedInfo;
    ThrowInfo* throwInfo;
    unsigned int size;
    void* PrepareThrow;
} WINRTEXCEPTIONINFO;

// The EXCEPTION_RECORD of a C++ exception, its parameters named.
typedef struct EHExceptionRecord {
    DWORD ExceptionCode;
    DWORD ExceptionFlags;
    struct _EXCEPTION_RECORD* ExceptionRecord;
    PVOID ExceptionAddress;
    DWORD NumberParameters;
    struct EHParameters {
        DWORD magicNumber;
        PVOID pExceptionObject;
        ThrowInfo* pThrowInfo;
        PVOID pThrowImageBase;
    } params;
} EHExceptionRecord;

#define PER_IS_MSVC_EH(p)                                                                   \
    ((p)->ExceptionCode == EH_EXCEPTION_NUMBER && (p)->NumberParameters == EH_EXCEPTION_PARAMETERS \
     && ((p)->params.magicNumber == EH_MAGIC_NUMBER1 || (p)->params.magicNumber == EH_MAGIC_NUMBER2   \
         || (p)->params.magicNumber == EH_MAGIC_NUMBER3))
#define PER_IS_MSVC_PURE_OR_NATIVE_EH(p)                                                    \
    (PER_IS_MSVC_EH(p)                                                                      \
     || ((p)->ExceptionCode == EH_EXCEPTION_NUMBER && (p)->NumberParameters == EH_EXCEPTION_PARAMETERS \
         && (p)->params.magicNumber == EH_PURE_MAGIC_NUMBER1))
#define PER_PEXCEPTOBJ(p) ((p)->params.pExceptionObject)
#define PER_PTHROW(p) ((p)->params.pThrowInfo)

#ifdef __cplusplus
extern "C" {
#endif
// The image a code or data address belongs to (kernel32, from ntdll).
__declspec(dllimport) PVOID __stdcall RtlPcToFileHeader(PVOID address, PVOID* base);

// The exception being handled on this thread and its context (vcruntime140).
__declspec(dllimport) void** __cdecl __current_exception(void);
__declspec(dllimport) void** __cdecl __current_exception_context(void);
#ifdef __cplusplus
}
#endif

// The record of the exception this thread is handling.
#define _pCurrentException (*reinterpret_cast<EHExceptionRecord**>(__current_exception()))
