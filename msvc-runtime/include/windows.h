// Wine's <windows.h> and the declarations of newer Windows SDKs that Wine 8
// lacks and MSVC's std::filesystem (stl/src/filesystem.cpp) uses: file ids
// of 128 bits, POSIX-style deletion, unprivileged symbolic links, and
// GetTempPath2W (looked up at run time, never imported).
//
// Build with WINE_UNICODE_NATIVE (the toolchain file defines it): without
// it Wine's WCHAR is char16_t under clang, not wchar_t as on Windows.
#pragma once
#include_next <windows.h>

#ifndef SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
#define SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE 0x2
#endif

#ifndef FILE_DISPOSITION_FLAG_DELETE
#define FILE_DISPOSITION_FLAG_DO_NOT_DELETE 0x00000000
#define FILE_DISPOSITION_FLAG_DELETE 0x00000001
#define FILE_DISPOSITION_FLAG_POSIX_SEMANTICS 0x00000002
#define FILE_DISPOSITION_FLAG_FORCE_IMAGE_SECTION_CHECK 0x00000004
#define FILE_DISPOSITION_FLAG_ON_CLOSE 0x00000008
#define FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE 0x00000010
#endif

#ifdef __cplusplus
extern "C" {
#endif
typedef struct _FILE_DISPOSITION_INFO_EX {
    DWORD Flags;
} FILE_DISPOSITION_INFO_EX, *PFILE_DISPOSITION_INFO_EX;

#ifndef __WINE_WINTERNL_H
typedef struct _FILE_ID_128 {
    BYTE Identifier[16];
} FILE_ID_128, *PFILE_ID_128;
#endif

typedef struct _FILE_ID_INFO {
    ULONGLONG VolumeSerialNumber;
    FILE_ID_128 FileId;
} FILE_ID_INFO, *PFILE_ID_INFO;

WINBASEAPI DWORD WINAPI GetTempPath2W(DWORD length, LPWSTR buffer);
#ifdef __cplusplus
}
#endif
