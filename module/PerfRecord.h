// A performance record exported for the host's profiling tools. The module
// itself does not use it.
#pragma once

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

    int64_t m_first;
    int64_t m_second;
    int32_t m_third;
    wchar_t m_name[260];
};

}  // namespace Perf
