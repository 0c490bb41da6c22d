#include "support/SAppDCHelper.h"

#include <gtest/gtest.h>

#include "standin/tarnbase/StandinDatabase.h"
#include "support/Teardown.h"
#include "support/test_log_support.h"

namespace {

using sapp::testing::loggedTexts;

void close(SAppDCHelper& helper) {
    Teardown teardown;
    helper.close(teardown);
    teardown.finish();
}

class SAppDCHelperTest : public ::testing::Test {
protected:
    void SetUp() override {
        standin::resetLog();
        standin::removeAllDatabases();
    }
    void TearDown() override {
        standin::removeAllDatabases();
        standin::resetLog();
    }
};

TEST_F(SAppDCHelperTest, NamesAreRegisteredAtLoadInOrder) {
    const uint16_t table = insert_name_id(L"tblChannelData");
    const uint16_t field = insert_name_id(L"fldChannelData");
    const uint16_t group = insert_name_id(L"dwSGroupId");
    EXPECT_LT(table, field);
    EXPECT_LT(field, group);
    EXPECT_EQ(standin::nameForId(table), L"tblChannelData");
}

TEST_F(SAppDCHelperTest, ReadsTheCurrentValueAtEachCall) {
    standin::setChannelValue(42, L"dwSGroupId", 78);
    SAppDCHelper helper(42);
    EXPECT_EQ(helper.getSGroupId(), 78u);
    standin::setChannelValue(42, L"dwSGroupId", 79);
    EXPECT_EQ(helper.getSGroupId(), 79u);
    EXPECT_TRUE(loggedTexts().empty());
    close(helper);
}

TEST_F(SAppDCHelperTest, WithoutADatabaseItLogsOnceAtConstructionAndAnswersZero) {
    SAppDCHelper helper(42);
    EXPECT_EQ(helper.getSGroupId(), 0u);
    EXPECT_EQ(helper.getSGroupId(), 0u);
    EXPECT_EQ(loggedTexts(), (std::vector<std::string>{
                                 "[sess] SessionDCHelper::init, query database failed for sid:  42",
                                 "[sapp] SAppDCHelper::getSGroupId, m_pChlFld==NULL.",
                                 "[sapp] SAppDCHelper::getSGroupId, m_pChlFld==NULL."}));
}

TEST_F(SAppDCHelperTest, TheDatabaseIsOpenedOnceAndEveryReferenceReleasedInOrder) {
    standin::setChannelValue(7, L"dwSGroupId", 1);
    SAppDCHelper helper(7);
    EXPECT_EQ(standin::outstandingDatabaseRefs(), 3);
    standin::removeDatabase(7);
    EXPECT_EQ(helper.getSGroupId(), 1u) << "references keep the objects alive";
    EXPECT_EQ(standin::databaseReleaseOrder(), "");
    close(helper);
    EXPECT_EQ(standin::outstandingDatabaseRefs(), 0);
    EXPECT_EQ(standin::databaseRefErrors(), 0);
    EXPECT_EQ(standin::databaseReleaseOrder(), "dtf") << "the database, then the table, then the field object";
}

}  // namespace
