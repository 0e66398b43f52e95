#pragma once
// A control hosted by a scripted operator against a canned-reply server on 127.0.0.1.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "control/context.h"
#include "control/eftmemb.h"
#include "driver/scripted_host.h"
#include "support/canned_server.h"
#include "tables/table.h"

namespace eft::test {

using Row = std::map<std::string, std::string>;

class ControlTest : public ::testing::Test {
protected:
    static constexpr Date kToday{2026, 12, 6};

    ControlTest() : host(kToday), control(std::make_unique<EFTMemb>(host)) {
        control->SetVariables(server.base(), 7, 2);
    }

    ui::Screen& screen() { return control->screen(); }
    const ControlState& state() { return control->state(); }

    // Answers the sweep request of a country with these rows.
    void serveSweep(const std::vector<Row>& rows, int country = 1) {
        server.on("EFTMember.asp?countryID=" + std::to_string(country) + "&Load=1", {sweepReply(rows)});
    }
    // Loads the United States sweep: "&Load Data" the first time, the country option later.
    void load(const std::vector<Row>& rows) {
        serveSweep(rows);
        if (!screen().cmdLoadData.operatorClick()) screen().optCountry.operatorChoose(1);
    }
    // The operator ticks the center lines whose "Center" text is given, then presses "&Details".
    void details(const std::vector<std::string>& centers) {
        auto& list = screen().lstEFTCenter;
        for (int i = 0; i < list.lineCount(); ++i)
            for (const auto& c : centers)
                if (list.subItem(i, 1) == c) list.operatorSetChecked(i, true);
        screen().cmdViewCenterDetails.operatorClick();
    }
    std::vector<std::string> column(const ui::ListView& list, int k) {
        std::vector<std::string> out;
        for (const auto& l : list.lines()) out.emplace_back(k == 0 ? l.text : l.sub[static_cast<std::size_t>(k - 1)]);
        return out;
    }
    // The sweep table's values of one field over all rows, in table order, whatever filter
    // the control left in place (which is put back afterwards).
    std::vector<std::string> sweepColumn(const std::string& field) {
        std::vector<std::string> out;
        auto& table = const_cast<Table&>(*control->sweepTable());
        const std::string filter = table.filter();
        table.setFilter("");
        while (!table.eof()) {
            out.push_back(table.text(field).value_or("<none>"));
            table.moveNext();
        }
        table.setFilter(filter);
        return out;
    }
    std::vector<std::string> titles() {
        std::vector<std::string> out;
        for (const auto& b : host.shown()) out.push_back(b.request.title + "|" + b.request.text);
        return out;
    }

    CannedServer server;
    driver::ScriptedHost host;
    std::unique_ptr<EFTMemb> control;
};

// A sweep row of type 1 with the given amounts; fields may be overridden or removed ("").
inline Row sweepRow(int member, int center, double in, double out, Row extra = {}) {
    Row r{{"MemberID", std::to_string(member)},
          {"MemberName", "Member " + std::to_string(member)},
          {"CenterID", std::to_string(center)},
          {"CenterName", "Center " + std::to_string(center)},
          {"ConversionRate", "1"},
          {"Royalty", "10"},
          {"NAC", "0"},
          {"RoyaltyReserve", "0"},
          {"FranchiseFee", "0"},
          {"FranchiseFeeReserve", "0"},
          {"GST", "0"},
          {"PST", "0"},
          {"NMCPayment", "0"},
          {"Source", "1"},
          {"SourceDescription", "Royalty"},
          {"SweepSequence", "1"},
          {"SweepDate", "2011-03-04"},
          {"Type", "1"},
          {"TrustID", "0"},
          {"INRowTotal", std::to_string(in)},
          {"OUTRowTotal", std::to_string(out)},
          {"SubscriptionMembership", "false"}};
    for (auto& [k, v] : extra) {
        if (v.empty()) r.erase(k);
        else r[k] = v;
    }
    return r;
}

}  // namespace eft::test
