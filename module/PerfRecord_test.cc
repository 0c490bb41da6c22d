// The exported performance record, which nothing in the module calls.
#include "module/PerfRecord.h"

#include <gtest/gtest.h>

namespace {

TEST(PerfRecordTest, InstanceIsCreatedOnceAndStartsEmpty) {
    Perf::CPerfRecord* instance = Perf::CPerfRecord::GetInstance();
    EXPECT_EQ(instance, Perf::CPerfRecord::GetInstance());
    EXPECT_EQ(instance, Perf::CPerfRecord::s_pImpl);
    EXPECT_EQ(instance->m_first, 0);
    EXPECT_EQ(instance->m_name[0], L'\0');
}

}  // namespace
