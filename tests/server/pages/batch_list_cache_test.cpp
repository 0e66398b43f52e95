// The batch list a server keeps to serve again: every write of what it shows, through whichever
// path, command or server, is in the next list, which reads byte for byte as a server keeping
// nothing would send it.
#include <gtest/gtest.h>

#include <functional>

#include "server/bank/bank_calendar.h"
#include "server/returns/returns_command.h"
#include "server_fixture.h"

namespace eft::server::testing {
namespace {

constexpr std::string_view kFrench = "fr-CA,fr;q=0.9";

class ListKept : public ServerFixture {
public:
    // For the write cases' tables.
    using ServerFixture::import;
    using ServerFixture::returnCenter12;
    using ServerFixture::sql;

    // The list as a server that has kept nothing yet sends it.
    std::string unkept(std::string_view language = {}) {
        ServiceOptions o{dbPath(), dir.path() / "unkept-export", fixedNow};
        o.settleEvery = std::chrono::milliseconds(0);
        return Service(std::move(o)).batchListXml(language);
    }

    void save(std::initializer_list<ChargeKey> keys) { ASSERT_EQ(service->save(bodyFor(keys)), ""); }
    void exportSaved(const std::string& batch) {
        ASSERT_NE(service->exportBatches(9, 2).find(batch), std::string::npos) << batch;
    }
    void commit(const std::string& pairs) {
        ASSERT_EQ(service->commitStatus(pairs + "&PersonID=9&PersonType=2&BatchNo=1&"), "");
    }

    // As an applied change notice names a center.
    void renameCenter(std::int32_t center, std::string_view name) {
        Transaction t(inspect->db(), Transaction::Mode::Write);
        inspect->setCenterName(center, name);
        t.commit();
    }

    // The batches past their return window settle, as the servers and `eft-server returns
    // --settle` settle them.
    void settle() {
        Transaction t(inspect->db(), Transaction::Mode::Write);
        ASSERT_EQ(returns::settleByRule(*inspect, bank::BankCalendar(), 1, Timestamp::from(Date{2011, 4, 1}, 9)),
                  std::vector<std::int32_t>{1});
        t.commit();
    }
};

using Step = std::function<void(ListKept&)>;

struct WriteCase {
    const char* name;
    Step before;  // done before the first list
    Step change;  // done between the two lists
    bool shown;   // whether the list changes
};

// Center 12's two charges and one of center 15 exported in batch 1, which waits for its status
// (still, once center 12 is returned).
Step exported() {
    return [](ListKept& t) {
        t.save({kDues1001, kDues1001Second, kDues1003});
        t.exportSaved("batch 1");
    };
}
Step exportedAndReturned() {
    return [](ListKept& t) {
        exported()(t);
        t.returnCenter12();
    };
}
Step sql(std::string statement) {
    return [statement](ListKept& t) { t.sql(statement); };
}

const WriteCase kWrites[] = {
    {"Export", [](ListKept& t) { t.save({kDues1001}); }, [](ListKept& t) { t.exportSaved("batch 1"); }, true},
    {"SecondExport", exported(),
     [](ListKept& t) {
         t.save({kNmc1002, kDues2001});
         t.exportSaved("batch 2");
     },
     true},
    {"SaveShowsNothing", exported(), [](ListKept& t) { t.save({kNmc1002}); }, false},
    {"StatusCommitClears", exported(), [](ListKept& t) { t.commit("GoodMemb=1001&GoodMemb=1003"); }, true},
    {"StatusCommitFails", exported(), [](ListKept& t) { t.commit("BadMemb=1001&GoodMemb=1003"); }, true},
    {"Return", exported(), [](ListKept& t) { t.returnCenter12(); }, true},
    {"StatusCommitAfterReturn", exportedAndReturned(), [](ListKept& t) { t.commit("BadMemb=1001&GoodMemb=1003"); },
     true},
    {"Settlement", exportedAndReturned(), [](ListKept& t) { t.settle(); }, true},
    {"ImportRenamesACenter", exported(),
     [](ListKept& t) { t.import("centers.csv", "CenterID,Name,Country\n12,Austin Central,1\n"); }, true},
    {"ChangeNoticeRenamesACenter", exported(),
     [](ListKept& t) { t.renameCenter(12, "Austin & Co"); }, true},
    {"CentersNameByHand", exported(), sql("UPDATE centers SET name = 'Austin South' WHERE id = 12"), true},
    {"ItemAmountByHand", exported(), sql("UPDATE batch_items SET amount = 1.5 WHERE member_id = 1001"), true},
    {"ItemGoneByHand", exported(), sql("DELETE FROM batch_items WHERE sweep_sequence = 2"), true},
    {"BatchDateByHand", exported(), sql("UPDATE batches SET exported_at = '2011-03-04T08:00:00'"), true},
    {"OtherCentersName", exported(), sql("UPDATE centers SET name = 'Montreal' WHERE id = 34"), false},
};

TEST_P(ListKept, EveryWritePathIsInTheNextList) {
    for (const WriteCase& c : kWrites) {
        SCOPED_TRACE(c.name);
        open(dir.path() / c.name);
        if (IsSkipped()) return;
        if (c.before) c.before(*this);
        const std::string first = service->batchListXml(), firstFrench = service->batchListXml(kFrench);
        ASSERT_EQ(service->batchListXml(), first);  // served from what was kept
        ASSERT_EQ(first, unkept());
        ASSERT_EQ(firstFrench, unkept(kFrench));
        c.change(*this);
        const std::string after = service->batchListXml();
        EXPECT_EQ(after, unkept());
        EXPECT_EQ(after != first, c.shown) << after;
        EXPECT_EQ(service->batchListXml(kFrench), unkept(kFrench));
    }
}

// The two languages are kept apart: a returned item's reason is in the language asked for.
TEST_P(ListKept, EachLanguageIsKeptApart) {
    exportedAndReturned()(*this);
    for (int round = 0; round < 2; ++round) {
        const std::string english = service->batchListXml(), french = service->batchListXml(kFrench);
        EXPECT_NE(english, french);
        EXPECT_EQ(english, unkept());
        EXPECT_EQ(french, unkept(kFrench));
    }
}

// Behind a reverse proxy each server keeps its own list; the other's writes must reach it.
TEST_P(ListKept, AnotherServersWriteIsInTheNextList) {
    ServiceOptions o{dbPath(), dir.path() / "other-export", fixedNow};
    o.settleEvery = std::chrono::milliseconds(0);
    Service other(std::move(o));
    const std::string empty = service->batchListXml();
    ASSERT_EQ(other.batchListXml(), empty);
    ASSERT_EQ(other.save(bodyFor({kDues1001, kDues1001Second})), "");
    ASSERT_NE(other.exportBatches(9, 2).find("batch 1"), std::string::npos);
    const std::string exportedList = service->batchListXml();
    EXPECT_NE(exportedList, empty);
    EXPECT_EQ(exportedList, other.batchListXml());
    EXPECT_EQ(exportedList, unkept());
    ASSERT_EQ(other.commitStatus("GoodMemb=1001&PersonID=9&PersonType=2&BatchNo=1&"), "");
    EXPECT_EQ(service->batchListXml(), empty);
    sql("UPDATE batch_items SET outcome = NULL");  // a third writer
    EXPECT_EQ(service->batchListXml(), exportedList);
    EXPECT_EQ(other.batchListXml(), exportedList);
}

INSTANTIATE_TEST_SUITE_P(On, ListKept, kEngines, engineName);

}  // namespace
}  // namespace eft::server::testing
