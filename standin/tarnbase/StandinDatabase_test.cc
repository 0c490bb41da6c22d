#include "standin/tarnbase/StandinDatabase.h"

#include <gtest/gtest.h>

#include "host/Tarnbase.h"

namespace {

class StandinDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override { standin::removeAllDatabases(); }
    void TearDown() override {
        EXPECT_EQ(standin::outstandingDatabaseRefs(), 0) << "every reference released";
        EXPECT_EQ(standin::databaseRefErrors(), 0);
        standin::removeAllDatabases();
    }

    const uint16_t tbl = insert_name_id(L"tblChannelData");
    const uint16_t fld = insert_name_id(L"fldChannelData");
    const uint16_t group = insert_name_id(L"dwSGroupId");
};

TEST_F(StandinDatabaseTest, NameIdsAreStableDistinctAndNeverZero) {
    EXPECT_NE(tbl, 0);
    EXPECT_NE(fld, tbl);
    EXPECT_NE(group, fld);
    EXPECT_EQ(insert_name_id(L"tblChannelData"), tbl);
    const uint16_t fresh = insert_name_id(L"StandinDatabaseTest.fresh");
    EXPECT_NE(fresh, 0);
    EXPECT_NE(fresh, tbl);
    EXPECT_EQ(insert_name_id(L"StandinDatabaseTest.fresh"), fresh);
    EXPECT_EQ(standin::nameForId(fresh), L"StandinDatabaseTest.fresh");
    EXPECT_EQ(standin::nameForId(0), L"");
    EXPECT_EQ(insert_name_id(nullptr), 0);
}

TEST_F(StandinDatabaseTest, QueryGivesTheChannelsObjectsAndCountsEachReference) {
    EXPECT_FALSE(Data::queryDatabase(7)) << "no database before a value is set";
    standin::setChannelValue(7, L"dwSGroupId", 1234);
    EXPECT_FALSE(Data::queryDatabase(8));
    EXPECT_FALSE(Data::queryDatabase(7 + (uint64_t{1} << 32))) << "sids are 32-bit";

    auto database = Data::queryDatabase(7);
    ASSERT_TRUE(database);
    EXPECT_EQ(standin::outstandingDatabaseRefs(), 1);
    auto table = database->getTable(tbl);
    auto field = database->getField(fld);
    ASSERT_TRUE(table);
    ASSERT_TRUE(field);
    EXPECT_EQ(standin::outstandingDatabaseRefs(), 3);
    EXPECT_FALSE(database->getTable(fld)) << "only the channel-data names are answered";
    EXPECT_FALSE(database->getField(tbl));
    EXPECT_EQ(standin::outstandingDatabaseRefs(), 3);

    EXPECT_EQ(field->getUInt32(group), 1234u);
    EXPECT_EQ(field->getUInt32(insert_name_id(L"neverSet")), 0u);
    standin::setChannelValue(7, L"dwSGroupId", 99);
    EXPECT_EQ(field->getUInt32(group), 99u) << "values are read at each call";

    {
        auto copy = field;                // addRef
        comptr<Data::IDatabase> assigned;
        assigned = database;              // addRef
        assigned = Data::queryDatabase(7);  // releaseRef of the old, new reference
        EXPECT_EQ(standin::outstandingDatabaseRefs(), 5);
    }
    EXPECT_EQ(standin::outstandingDatabaseRefs(), 3);
    table.reset();
    field.reset();
    database.reset();
}

TEST_F(StandinDatabaseTest, ObjectsOutliveTheirRemovedDatabase) {
    standin::setChannelValue(5, L"dwSGroupId", 1);
    auto field = Data::queryDatabase(5)->getField(fld);
    auto database = Data::queryDatabase(5);
    standin::removeDatabase(5);
    EXPECT_FALSE(Data::queryDatabase(5));
    EXPECT_EQ(field->getUInt32(group), 1u);
    EXPECT_TRUE(database->getTable(tbl));

    standin::setChannelValue(5, L"dwSGroupId", 2);
    EXPECT_EQ(field->getUInt32(group), 1u) << "a new database does not touch the old objects";
    EXPECT_EQ(Data::queryDatabase(5)->getField(fld)->getUInt32(group), 2u);
    database.reset();  // last reference to the removed database; its field lives on
    EXPECT_EQ(field->getUInt32(group), 1u);
    field.reset();
}

TEST_F(StandinDatabaseTest, DatabaseWithoutObjectsAndOverReleaseAreReported) {
    standin::createDatabase(3, false, false);
    auto database = Data::queryDatabase(3);
    ASSERT_TRUE(database);
    EXPECT_FALSE(database->getTable(tbl));
    EXPECT_FALSE(database->getField(fld));
    standin::setChannelValue(3, L"dwSGroupId", 6);
    EXPECT_FALSE(database->getTable(tbl));
    ASSERT_TRUE(database->getField(fld));
    EXPECT_EQ(database->getField(fld)->getUInt32(group), 6u);

    // Give the comptr's reference back by hand, then once too often: the
    // extra release is counted and does not free the object the registry
    // still holds.
    database->releaseRef();
    EXPECT_EQ(standin::outstandingDatabaseRefs(), 0);
    database->releaseRef();
    EXPECT_EQ(standin::databaseRefErrors(), 1);
    EXPECT_EQ(standin::outstandingDatabaseRefs(), 0);
    EXPECT_TRUE(Data::queryDatabase(3)->getField(fld));

    database->addRef();  // the comptr owns a reference again
    standin::removeAllDatabases();
    EXPECT_EQ(standin::databaseRefErrors(), 0);
    EXPECT_TRUE(database->getField(fld)) << "alive through the comptr alone";
}

}  // namespace
