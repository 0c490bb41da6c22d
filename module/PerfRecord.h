// A performance record exported for the host's profiling tools. The module
// itself does not use it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "module/Export.h"

namespace Perf {

class SAPP_API CPerfRecord {
public:
    // Zeroes the three counters and the first character of the name; the
    // rest of the name is left as it was.
    CPerfRecord();
    CPerfRecord& operator=(const CPerfRecord& other);
    CPerfRecord& operator=(CPerfRecord&& other) noexcept;

    // The process-wide record, created on first call and never destroyed.
    static CPerfRecord* GetInstance();
    static CPerfRecord* s_pImpl;

    int64_t m_first;      //  0
    int64_t m_second;     //  8
    int32_t m_third;      // 16
    wchar_t m_name[260];  // 20
};

// The host's profiling tools read the record at these offsets; on Windows
// (2-byte wchar_t) it is 544 bytes long.
#if defined(__x86_64__) || defined(_M_X64)
static_assert(offsetof(CPerfRecord, m_first) == 0);
static_assert(offsetof(CPerfRecord, m_second) == 8);
static_assert(offsetof(CPerfRecord, m_third) == 16);
static_assert(offsetof(CPerfRecord, m_name) == 20);
#  if defined(_WIN32)
static_assert(sizeof(CPerfRecord) == 544);
#  endif
#endif

}  // namespace Perf
