// The batch list and the cleared/failed status of a batch.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "server/pages/form.h"
#include "server/pages/save_body.h"
#include "server/pages/status_form.h"
#include "server_fixture.h"

namespace eft::server::testing {
namespace {

constexpr int kInSweep = 0;
constexpr int kExported = 20;
constexpr int kCleared = 30;

class StatusTest : public ServerFixture {
protected:
    // Batch 1: centers 12 (1001 twice) and 15 (1002, source 2). Batch 2: center 34 (2001, and
    // 2002 source 2).
    void SetUp() override {
        ServerFixture::SetUp();
        if (IsSkipped()) return;
        ASSERT_EQ(service->save(readSaveBody(bodyFor({kDues1001, kDues1001Second, kNmc1002, kDues2001, kNmc2002})), "ann"),
                  "");
        service->exportBatches(9, 2);
        ASSERT_EQ(count("SELECT COUNT(*) FROM batches"), 2);
    }

    std::int64_t pendingItems() { return count("SELECT COUNT(*) FROM batch_items WHERE outcome IS NULL"); }
};

TEST_P(StatusTest, TheBatchListHoldsEveryWaitingItemInBatchAndCenterOrder) {
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(service->batchListXml().c_str()));
    const struct {
        const char *batch, *center, *name, *member, *source, *amount, *country;
    } want[] = {
        {"1", "12", "Austin North", "1001", "1", "62", "1"},
        {"1", "12", "Austin North", "1001", "1", "30", "1"},
        {"1", "15", "Boise & Sons <West>", "1002", "2", "-150", "1"},
        {"2", "34", "Montr\u00e9al Plateau", "2001", "1", "146.9", "2"},
        {"2", "34", "Montr\u00e9al Plateau", "2002", "2", "-260", "2"},
    };
    std::size_t i = 0;
    for (const pugi::xml_node item : doc.document_element().children()) {
        ASSERT_LT(i, std::size(want));
        std::vector<std::string> names;
        for (const pugi::xml_node field : item.children()) names.push_back(field.name());
        EXPECT_EQ(names, (std::vector<std::string>{"BatchControl", "CenterID", "Name", "MemberID", "ExportedDate",
                                                   "Source", "Amount", "Country"}));
        EXPECT_STREQ(item.child_value("BatchControl"), want[i].batch) << i;
        EXPECT_STREQ(item.child_value("CenterID"), want[i].center) << i;
        EXPECT_STREQ(item.child_value("Name"), want[i].name) << i;
        EXPECT_STREQ(item.child_value("MemberID"), want[i].member) << i;
        EXPECT_STREQ(item.child_value("ExportedDate"), "2011-03-05T10:20:30") << i;
        EXPECT_STREQ(item.child_value("Source"), want[i].source) << i;
        EXPECT_STREQ(item.child_value("Amount"), want[i].amount) << i;
        EXPECT_STREQ(item.child_value("Country"), want[i].country) << i;
        ++i;
    }
    EXPECT_EQ(i, std::size(want));
}

TEST_P(StatusTest, ClearedItemsLeaveForGoodAndFailedOnesReturnToTheSweep) {
    // Committed by login "bob": recorded beside the person id the control sends.
    EXPECT_EQ(service->commitStatus(
                  parseStatusBody("GoodMemb=1001&GoodMemb=1001&BadMemb=-1002&PersonID=9&PersonType=2&BatchNo=1&"), "bob"),
              "");
    EXPECT_EQ(count("SELECT COUNT(*) FROM batch_items WHERE batch_no = 1 AND outcome_by = 9 AND outcome_login = 'bob'"), 3);
    EXPECT_EQ(stateOf(kDues1001), kCleared);
    EXPECT_EQ(stateOf(kDues1001Second), kCleared);
    EXPECT_EQ(count("SELECT COUNT(*) FROM charges WHERE member_id = 1001 AND saved_login = 'ann'"), 2);
    EXPECT_EQ(stateOf(kNmc1002), kInSweep);
    EXPECT_EQ(count("SELECT COUNT(*) FROM charges WHERE member_id = 1002 AND "
                    "(posted_amount IS NOT NULL OR saved_login IS NOT NULL)"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM batch_items WHERE batch_no = 1 AND outcome = 1 AND outcome_by = 9"), 2);
    EXPECT_EQ(pendingItems(), 2);  // batch 2 still waits
    EXPECT_EQ(service->batchListXml().find("<BatchControl>1</BatchControl>"), std::string::npos);

    // The failed charge is collected again: back in the sweep rows, saved and exported anew.
    EXPECT_NE(service->sweepXml(1).find("<MemberID>1002</MemberID>"), std::string::npos);
    ASSERT_EQ(service->save(bodyFor({kNmc1002})), "");
    service->exportBatches(9, 2);
    EXPECT_EQ(count("SELECT COUNT(*) FROM batch_items WHERE batch_no = 3 AND outcome IS NULL"), 1);
    EXPECT_EQ(stateOf(kNmc1002), kExported);
}

TEST_P(StatusTest, RefusedCommitsChangeNothing) {
    const struct {
        const char* body;
        const char* reply;
    } cases[] = {
        {"GoodMemb=1001&PersonID=9&PersonType=2&BatchNo=99&", "Batch 99 does not exist"},
        {"GoodMemb=1001&BadMemb=2001&PersonID=9&PersonType=2&BatchNo=1&",
         "Member 2001 has no item waiting for its status in batch 1"},
        // 1002's only item is of source 2, so the plain id names nothing.
        {"GoodMemb=1001&GoodMemb=1002&PersonID=9&PersonType=2&BatchNo=1&",
         "Member 1002 has no item waiting for its status in batch 1"},
        {"BadMemb=-1001&PersonID=9&PersonType=2&BatchNo=1&", "Member -1001 has no item waiting for its status in batch 1"},
        // A commit that leaves an item of its batch unnamed would settle the batch in part.
        {"GoodMemb=1001&PersonID=9&PersonType=2&BatchNo=1&",
         "Batch 1 is not complete in this status update: member -1002 of center 15 is waiting for its status and is "
         "not named; nothing was changed"},
        {"BadMemb=-1002&PersonID=9&PersonType=2&BatchNo=1&",
         "Batch 1 is not complete in this status update: member 1001 of center 12 is waiting for its status and is "
         "not named; nothing was changed"},
        {"GoodMemb=-2002&PersonID=9&PersonType=2&BatchNo=2&",
         "Batch 2 is not complete in this status update: member 2001 of center 34 is waiting for its status and is "
         "not named; nothing was changed"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(service->commitStatus(c.body), c.reply) << c.body;
        EXPECT_EQ(pendingItems(), 5) << c.body;
        EXPECT_EQ(count("SELECT COUNT(*) FROM charges WHERE state = 20"), 5) << c.body;
    }
}

TEST_P(StatusTest, AStatusIsRecordedOnlyOnce) {
    const char* body = "GoodMemb=2001&GoodMemb=-2002&PersonID=9&PersonType=2&BatchNo=2&";
    ASSERT_EQ(service->commitStatus(body), "");
    EXPECT_EQ(service->commitStatus(body), "Member 2001 has no item waiting for its status in batch 2");
    EXPECT_EQ(stateOf(kDues2001), kCleared);
    EXPECT_EQ(stateOf(kNmc2002), kCleared);
}

TEST_P(StatusTest, AMalformedBodyIsARequestError) {
    EXPECT_THROW(service->commitStatus("GoodMemb=1001&BatchNo=1&"), RequestError);
    EXPECT_EQ(pendingItems(), 5);
}

// Each commit of a table starts from the fixture's two batches, on a database of its own.
TEST_P(StatusTest, EachReferenceRecordsItsOwnItemsWhateverElseThePostNames) {
    const struct {
        const char* what;
        const char* body;
        int dues1001, dues1001Second, nmc1002, dues2001, nmc2002;
        std::int64_t failedItems;  // recorded as failed, in both batches
    } cases[] = {
        {"ids repeated among the failed", "BadMemb=1001&BadMemb=-1002&BadMemb=1001&BadMemb=-1002&PersonID=9&PersonType=2&BatchNo=1&",
         kInSweep, kInSweep, kInSweep, kExported, kExported, 3},
        {"one of each outcome", "GoodMemb=-2002&BadMemb=2001&PersonID=9&PersonType=2&BatchNo=2&",
         kExported, kExported, kExported, kInSweep, kCleared, 1},
        {"every item cleared", "GoodMemb=-1002&GoodMemb=1001&PersonID=9&PersonType=2&BatchNo=1&",
         kCleared, kCleared, kCleared, kExported, kExported, 0},
    };
    int round = 0;
    for (const auto& c : cases) {
        if (round++ > 0) {
            open(dir.path() / ("round" + std::to_string(round)));
            ASSERT_EQ(service->save(bodyFor({kDues1001, kDues1001Second, kNmc1002, kDues2001, kNmc2002})), "");
            service->exportBatches(9, 2);
        }
        EXPECT_EQ(service->commitStatus(c.body), "") << c.what;
        EXPECT_EQ(stateOf(kDues1001), c.dues1001) << c.what;
        EXPECT_EQ(stateOf(kDues1001Second), c.dues1001Second) << c.what;
        EXPECT_EQ(stateOf(kNmc1002), c.nmc1002) << c.what;
        EXPECT_EQ(stateOf(kDues2001), c.dues2001) << c.what;
        EXPECT_EQ(stateOf(kNmc2002), c.nmc2002) << c.what;
        EXPECT_EQ(count("SELECT COUNT(*) FROM batch_items WHERE outcome = 2"), c.failedItems) << c.what;
        // A failed charge keeps nothing of its save; a cleared one keeps all of it.
        EXPECT_EQ(count("SELECT COUNT(*) FROM charges WHERE state = 0 AND (saved_by IS NOT NULL OR posted_amount IS NOT NULL)"),
                  0)
            << c.what;
        EXPECT_EQ(count("SELECT COUNT(*) FROM charges WHERE state = 30 AND (saved_by IS NULL OR posted_amount IS NULL)"), 0)
            << c.what;
    }
}

TEST_P(StatusTest, OneMembersTwoReferencesTakeTwoOutcomes) {
    // Batch 3 holds member 2002's NMC payment (failed in batch 2, saved again) and its dues.
    ASSERT_EQ(service->commitStatus("GoodMemb=2001&BadMemb=-2002&PersonID=9&PersonType=2&BatchNo=2&"), "");
    ASSERT_EQ(service->save(bodyFor({kNmc2002, kDues2002})), "");
    service->exportBatches(9, 2);
    ASSERT_EQ(count("SELECT COUNT(*) FROM batch_items WHERE batch_no = 3 AND outcome IS NULL"), 2);

    const struct {
        const char* body;
        const char* reply;
    } refused[] = {
        {"GoodMemb=2002&PersonID=9&PersonType=2&BatchNo=3&",
         "Batch 3 is not complete in this status update: member -2002 of center 34 is waiting for its status and is "
         "not named; nothing was changed"},
        {"BadMemb=-2002&PersonID=9&PersonType=2&BatchNo=3&",
         "Batch 3 is not complete in this status update: member 2002 of center 34 is waiting for its status and is "
         "not named; nothing was changed"},
        {"GoodMemb=2002&GoodMemb=-2002&BadMemb=2001&PersonID=9&PersonType=2&BatchNo=3&",
         "Member 2001 has no item waiting for its status in batch 3"},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(service->commitStatus(c.body), c.reply) << c.body;
        EXPECT_EQ(count("SELECT COUNT(*) FROM batch_items WHERE batch_no = 3 AND outcome IS NULL"), 2) << c.body;
    }
    ASSERT_EQ(service->commitStatus("GoodMemb=-2002&BadMemb=2002&PersonID=9&PersonType=2&BatchNo=3&"), "");
    EXPECT_EQ(stateOf(kNmc2002), kCleared);
    EXPECT_EQ(stateOf(kDues2002), kInSweep);
    EXPECT_EQ(count("SELECT COUNT(*) FROM batch_items bi JOIN charges ch ON ch.id = bi.charge_id "
                    "WHERE bi.batch_no = 3 AND bi.outcome = CASE WHEN ch.source = 2 THEN 1 ELSE 2 END"),
              2);
}

TEST_P(StatusTest, TheFirstReferenceInPostedOrderIsTheOneNamed) {
    const struct {
        const char* what;
        StatusForm form;
        const char* reply;
    } cases[] = {
        {"an id of another batch after a full naming",
         {{{1001, false}, {1002, true}}, {{2001, false}}, 9, 2, 1},
         "Member 2001 has no item waiting for its status in batch 1"},
        {"two ids of another batch, the cleared one judged first",
         {{{1001, false}, {2002, true}}, {{1002, true}, {2001, false}}, 9, 2, 1},
         "Member -2002 has no item waiting for its status in batch 1"},
        {"a reference given twice: its items went to the first",
         {{{1001, false}, {1002, true}, {1001, false}}, {}, 9, 2, 1},
         "Member 1001 has no item waiting for its status in batch 1"},
        {"a reference given as cleared and again as failed",
         {{{1001, false}}, {{1002, true}, {1001, false}}, 9, 2, 1},
         "Member 1001 has no item waiting for its status in batch 1"},
        {"a reference given twice after one with nothing waiting",
         {{{2001, false}, {1001, false}, {1001, false}}, {}, 9, 2, 1},
         "Member 2001 has no item waiting for its status in batch 1"},
        {"no reference at all",
         {{}, {}, 9, 2, 2},
         "Batch 2 is not complete in this status update: member 2001 of center 34 is waiting for its status and is "
         "not named; nothing was changed"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(service->commitStatus(c.form), c.reply) << c.what;
        EXPECT_EQ(pendingItems(), 5) << c.what;
        EXPECT_EQ(count("SELECT COUNT(*) FROM charges WHERE state = 20"), 5) << c.what;
    }
}

TEST_P(StatusTest, ABodyNamingNoMemberOrOneMemberBothWaysChangesNothing) {
    const struct {
        const char* body;
        const char* fault;
    } cases[] = {
        {"PersonID=9&PersonType=2&BatchNo=1&", "No member ids were given"},
        {"GoodMemb=1001&GoodMemb=-1002&BadMemb=1001&PersonID=9&PersonType=2&BatchNo=1&",
         "Member 1001 is named both cleared and failed"},
    };
    for (const auto& c : cases) {
        try {
            service->commitStatus(c.body);
            ADD_FAILURE() << c.body << " was taken";
        } catch (const RequestError& e) {
            EXPECT_EQ(std::string(e.what()), c.fault);
        }
        EXPECT_EQ(pendingItems(), 5) << c.body;
    }
}

INSTANTIATE_TEST_SUITE_P(On, StatusTest, kEngines, engineName);

}  // namespace
}  // namespace eft::server::testing
