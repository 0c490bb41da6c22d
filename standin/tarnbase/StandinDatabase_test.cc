#include "standin/tarnbase/StandinDatabase.h"

#include <gtest/gtest.h>

#include <stdexcept>

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

TEST_F(StandinDatabaseTest, QueryGivesTheChannelsObjectsAndCountsEachReference) {
    EXPECT_NE(tbl, 0) << "0 means no name";
    EXPECT_EQ(insert_name_id(L"tblChannelData"), tbl);
    EXPECT_FALSE(Data::queryDatabase(7)) << "no database before a value is set";
    standin::setChannelValue(7, L"dwSGroupId", 1234);
    EXPECT_FALSE(Data::queryDatabase(7 + (uint64_t{1} << 32))) << "sids are 32-bit";

    const auto database = Data::queryDatabase(7);
    ASSERT_TRUE(database);
    const auto table = database->getTable(tbl);
    const auto field = database->getField(fld);
    ASSERT_TRUE(table && field);
    EXPECT_FALSE(database->getTable(fld)) << "only the channel-data names are answered";
    EXPECT_FALSE(database->getField(tbl));
    EXPECT_EQ(standin::outstandingDatabaseRefs(), 3);

    EXPECT_EQ(field->getUInt32(group), 1234u);
    EXPECT_EQ(field->getUInt32(insert_name_id(L"neverSet")), 0u);
    standin::setChannelValue(7, L"dwSGroupId", 99);
    EXPECT_EQ(field->getUInt32(group), 99u) << "values are read at each call";
}

TEST_F(StandinDatabaseTest, ObjectsOutliveTheirRemovedDatabase) {
    standin::setChannelValue(5, L"dwSGroupId", 1);
    auto database = Data::queryDatabase(5);
    const auto field = database->getField(fld);
    standin::removeDatabase(5);
    EXPECT_FALSE(Data::queryDatabase(5));
    standin::setChannelValue(5, L"dwSGroupId", 2);  // goes to a new database
    database.reset();  // last reference to the removed database; its field lives on
    EXPECT_EQ(field->getUInt32(group), 1u);
    EXPECT_EQ(Data::queryDatabase(5)->getField(fld)->getUInt32(group), 2u);
}

TEST_F(StandinDatabaseTest, QueriesCanBeMadeToThrowAndReleasesAreRecordedInOrder) {
    standin::setChannelValue(9, L"dwSGroupId", 1);
    standin::setQueryThrows(9, true);
    EXPECT_THROW(Data::queryDatabase(9), std::runtime_error);
    EXPECT_FALSE(Data::queryDatabase(8)) << "only that sid";
    standin::setQueryThrows(9, false);
    auto database = Data::queryDatabase(9);
    auto field = database->getField(fld);
    auto table = database->getTable(tbl);
    field.reset();
    database.reset();
    table.reset();
    EXPECT_EQ(standin::databaseReleaseOrder(), "fdt");
}

TEST_F(StandinDatabaseTest, MissingObjectsAndOverReleasesAreReported) {
    standin::createDatabase(3, false, false);
    auto database = Data::queryDatabase(3);
    EXPECT_FALSE(database->getField(fld));
    standin::setChannelValue(3, L"dwSGroupId", 6);
    EXPECT_FALSE(database->getTable(tbl));
    EXPECT_EQ(database->getField(fld)->getUInt32(group), 6u);

    // Give the comptr's reference back by hand, then once too often: the
    // extra release is counted and frees nothing.
    database->releaseRef();
    database->releaseRef();
    EXPECT_EQ(standin::databaseRefErrors(), 1);
    EXPECT_TRUE(Data::queryDatabase(3)->getField(fld));
    database->addRef();  // the comptr owns a reference again
    standin::removeAllDatabases();
    EXPECT_EQ(standin::databaseRefErrors(), 0);
    EXPECT_TRUE(database->getField(fld)) << "alive through the comptr alone";
}

}  // namespace
