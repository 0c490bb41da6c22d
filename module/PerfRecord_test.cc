// The exported performance record, which nothing in the module calls. Its
// assignments are written out (PerfRecord.cc), exported, and copy the whole
// record, its name array included.
#include "module/PerfRecord.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

TEST(PerfRecordTest, InstanceIsCreatedOnceAndCopiesWholeRecords) {
    Perf::CPerfRecord* instance = Perf::CPerfRecord::GetInstance();
    EXPECT_EQ(instance, Perf::CPerfRecord::GetInstance());
    EXPECT_EQ(instance, Perf::CPerfRecord::s_pImpl);
    EXPECT_EQ(instance->m_first, 0);
    EXPECT_EQ(instance->m_name[0], L'\0');

    Perf::CPerfRecord a;
    a.m_first = 1;
    a.m_second = 2;
    a.m_third = 3;
    a.m_name[0] = L'n';
    a.m_name[259] = L'z';
    Perf::CPerfRecord b;
    b = a;
    EXPECT_EQ(b.m_first, 1);
    EXPECT_EQ(b.m_second, 2);
    EXPECT_EQ(b.m_third, 3);
    EXPECT_EQ(b.m_name[259], L'z');
    Perf::CPerfRecord c;
    c = std::move(a);
    EXPECT_EQ(c.m_name[0], L'n');
}

}  // namespace
