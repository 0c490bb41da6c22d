// Wine's <crtdbg.h> and the report modes and files of MSVC's header. In a
// release build (the only one here) the report functions do nothing, but
// callers still name the constants.
#pragma once
#include_next <crtdbg.h>

typedef void* _HFILE;
#ifndef _CRTDBG_MODE_FILE
#define _CRTDBG_MODE_FILE 0x1
#define _CRTDBG_MODE_DEBUG 0x2
#define _CRTDBG_MODE_WNDW 0x4
#define _CRTDBG_REPORT_MODE -1
#endif
#ifndef _CRTDBG_FILE_STDERR
#define _CRTDBG_INVALID_HFILE ((_HFILE)(intptr_t)-1)
#define _CRTDBG_HFILE_ERROR ((_HFILE)(intptr_t)-2)
#define _CRTDBG_FILE_STDOUT ((_HFILE)(intptr_t)-4)
#define _CRTDBG_FILE_STDERR ((_HFILE)(intptr_t)-5)
#define _CRTDBG_REPORT_FILE ((_HFILE)(intptr_t)-6)
#endif
#ifndef _CrtSetReportFile
#define _CrtSetReportFile(type, file) ((_HFILE)0)
#endif
