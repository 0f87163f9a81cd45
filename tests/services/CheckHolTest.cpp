#include "datamodule/MDm.h"

#include "platform/RecordingMessages.h"
#include "tests/services/ServicesDb.h"

#include <gtest/gtest.h>

namespace {

class CheckHolTest : public testing::Test {
protected:
    static inline std::unique_ptr<testsupport::FirebirdTestDb> urv;

    static void SetUpTestSuite()
    {
        urv = std::make_unique<testsupport::FirebirdTestDb>();
        urv->execute("create table HLDTAB (M integer, D integer, N integer)");
        urv->execute("insert into HLDTAB values (1, 1, 1)");
        urv->execute("insert into HLDTAB values (5, 9, 2)");
        urv->execute("insert into HLDTAB values (2, 29, 3)");
    }
    static void TearDownTestSuite() { urv.reset(); }

    platform::RecordingMessages messages;
    TMainDM dm{messages};
};

TEST_F(CheckHolTest, DayAndMonthListedInHldtabAreHolidaysInEveryYear)
{
    servicestest::connectEmbedded(dm.FDconUrv, *urv);
    const struct {
        int y, m, d;
        bool holiday;
    } rows[] = {
        {2024, 1, 1, true},  {1950, 1, 1, true},  {2099, 1, 1, true},  {2024, 5, 9, true},
        {2024, 2, 29, true}, {2024, 1, 2, false}, {2024, 9, 5, false}, {2023, 3, 1, false},
    };
    for (const auto& row : rows) {
        // A time of day does not change the day.
        const TDateTime at{TDateTime::FromDate(row.y, row.m, row.d).Value + 0.9};
        EXPECT_EQ(dm.CheckHol(at), row.holiday) << row.y << "-" << row.m << "-" << row.d;
        EXPECT_FALSE(dm.QHld.Active());
    }
}

TEST_F(CheckHolTest, DatabaseErrorsReachTheCaller)
{
    EXPECT_THROW(dm.CheckHol(TDateTime::FromDate(2024, 1, 1)), TDbError) << "not connected";
    testsupport::FirebirdTestDb empty;
    servicestest::connectEmbedded(dm.FDconUrv, empty);
    EXPECT_THROW(dm.CheckHol(TDateTime::FromDate(2024, 1, 1)), TDbError) << "no holiday table";
    EXPECT_FALSE(dm.QHld.Active());
}

} // namespace
