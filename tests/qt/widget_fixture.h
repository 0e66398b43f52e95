#pragma once
// The widget shown offscreen against a canned-reply server, with a scripted operator
// answering its message boxes and a record of every box it asked for.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QTabBar>
#include <QTreeView>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "control/context.h"
#include "control/eftmemb.h"
#include "net/http.h"
#include "eftmemb/eftmemb_widget.h"
#include "qt/list_model_p.h"
#include "qt/tab_control_p.h"
#include "support/canned_server.h"

// Test failures show texts as texts.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace eft::qt::test {

using Row = std::map<std::string, std::string>;

// A sweep row of type 1; the amounts the member list shows are all present.
inline Row sweepRow(int member, int center, const std::string& in, const std::string& out, Row extra = {}) {
    Row r{{"MemberID", std::to_string(member)},   {"MemberName", "Member " + std::to_string(member)},
          {"CenterID", std::to_string(center)},   {"CenterName", "Center " + std::to_string(center)},
          {"ConversionRate", "1"},                {"Royalty", in},
          {"RoyaltyReserve", "0"},                {"NAC", "0"},
          {"FranchiseFee", "0"},                  {"FranchiseFeeReserve", "0"},
          {"GST", "0"},                           {"PST", "0"},
          {"NMCPayment", "0"},                    {"SalesTaxExempt", "true"},
          {"Source", "1"},                        {"SourceDescription", "Royalty"},
          {"SweepSequence", "1"},                 {"SweepDate", "2011-03-04"},
          {"Type", "1"},                          {"TrustID", "0"},
          {"INRowTotal", in},                     {"OUTRowTotal", out},
          {"SubscriptionMembership", "false"}};
    for (auto& [k, v] : extra) r[k] = v;
    return r;
}

inline Row batchRow(int batch, int center, int member, int source, const std::string& amount) {
    return {{"BatchControl", std::to_string(batch)}, {"CenterID", std::to_string(center)},
            {"Name", "Center " + std::to_string(center)}, {"MemberID", std::to_string(member)},
            {"ExportedDate", "2011-03-05"}, {"Source", std::to_string(source)}, {"Amount", amount}};
}

class WidgetTest : public ::testing::Test {
protected:
    WidgetTest() {
        widget.setMessageBoxHandler([this](const MessageBoxRequest& request) {
            boxes.push_back(request);
            if (onBox) onBox(request);
            if (answers.empty()) return request.defaultAnswer;
            const MsgAnswer a = answers.front();
            answers.pop_front();
            return a;
        });
        widget.show();
        widget.setVariables(QString::fromStdString(server.base()), 9, 2);
    }
    // A canned server stopped before its accept loop has started keeps that loop running for
    // good; one answered request proves the loop is up.
    ~WidgetTest() override { httpGet(server.base() + "ready", HttpLimits{}); }

    // Centers 12 (two members), 15 and 34 in the United States, one center in Canada; two
    // exported batches; posts accepted.
    void serveDemo() {
        using eft::test::sweepReply;
        server.on("EFTMember.asp?countryID=1&Load=1",
                  {sweepReply({sweepRow(1001, 12, "10.5", "0"), sweepRow(1002, 12, "20", "0"),
                                sweepRow(1501, 15, "7.25", "0"), sweepRow(3401, 34, "100", "-3")})});
        server.on("EFTMember.asp?countryID=2&Load=1", {sweepReply({sweepRow(2001, 20, "5", "0")})});
        server.on("EFTMemberBatch.asp?TSQL=BatchList",
                  {sweepReply({batchRow(57, 12, 1001, 1, "10.5"), batchRow(57, 12, 1002, 2, "20"),
                               batchRow(57, 34, 3401, 1, "97"), batchRow(58, 15, 1501, 1, "7.25")})});
        server.on("EFTMemberBatch.asp?ProcessExport=True&PersonID=9&PersonTypeID=2",
                  {"<Export>2 batch items exported</Export>"});
        server.on("EFTMember.asp", {""});
        server.on("EFTMemberBatch.asp", {""});
    }

    template <typename W = QWidget>
    W* element(const char* name, int index = -1) {
        auto* w = qobject_cast<W*>(widget.elementWidget(QString::fromLatin1(name), index));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QTreeView* view(const char* name) { return element<QTreeView>(name); }
    ListModel* model(const char* name) { return qobject_cast<ListModel*>(view(name)->model()); }
    TabControl* tabs() { return element<TabControl>("tabEFT"); }
    QTabBar* tabBar() { return tabs()->bar(); }
    QString labelText(const char* name) { return element<QLabel>(name)->text(); }
    void click(const char* name, int index = -1) { element<QAbstractButton>(name, index)->click(); }

    // The operator clicks a tab of the strip.
    void clickTab(int index);
    // The operator clicks the check box of a line, as the view's delegate hands it over.
    void tick(const char* list, int row, bool checked = true);
    std::vector<std::string> targets(const std::string& method) const;
    std::vector<std::string> titles() const;
    QStringList column(const char* list, int column);
    QStringList headers(const char* list);

    eft::test::CannedServer server;
    EftMembWidget widget;
    std::vector<MessageBoxRequest> boxes;
    std::deque<MsgAnswer> answers;
    std::function<void(const MessageBoxRequest&)> onBox;
};

}  // namespace eft::qt::test
