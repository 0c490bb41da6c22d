#include "module/PerfRecord.h"

#include <algorithm>
#include <iterator>

namespace Perf {

CPerfRecord* CPerfRecord::s_pImpl = nullptr;

// The name is deliberately left untouched beyond its first character.
CPerfRecord::CPerfRecord() : m_first(0), m_second(0), m_third(0) { m_name[0] = L'\0'; }

CPerfRecord& CPerfRecord::operator=(const CPerfRecord& other) {
    m_first = other.m_first;
    m_second = other.m_second;
    m_third = other.m_third;
    std::copy(std::begin(other.m_name), std::end(other.m_name), std::begin(m_name));
    return *this;
}

CPerfRecord& CPerfRecord::operator=(CPerfRecord&& other) noexcept { return *this = static_cast<const CPerfRecord&>(other); }

CPerfRecord* CPerfRecord::GetInstance() {
    if (!s_pImpl) s_pImpl = new CPerfRecord();
    return s_pImpl;
}

}  // namespace Perf
