// A reply body through the XML reader and on through the fills that show what it read: the
// sweep rows with their derived amounts into the center list and the member list, and the
// batch items into the batch box. The batch reply arrives in pieces whose size the input's
// first byte picks, so a parser that keeps state between pieces meets every split.
#include <algorithm>
#include <string>

#include "batches/batch_list.h"
#include "control/context.h"
#include "driver/scripted_host.h"
#include "fuzz_entry.h"
#include "members/member_list.h"
#include "net/xml_reader.h"
#include "sweep/center_list.h"
#include "sweep/row_amounts.h"
#include "tables/field_lists.h"

namespace {

void fillCentersAndMembers(eft::Context& ctx, std::string reply) {
    eft::Table& sweep = ctx.rsSweep.emplace(eft::makeTable("rsSweep", eft::sweepFields()));
    try {
        eft::readXmlRowsFromBuffer(sweep, reply, "CenterID", "fuzz:EFTMember.asp");
        if (sweep.rowCount() == 0) return;  // as the load: no rows, no lists
        for (sweep.moveFirst(); !sweep.eof(); sweep.moveNext()) eft::applyRowAmounts(sweep);
    } catch (const eft::EftError&) {
        return;  // the load's failure path: a message, nothing filled
    }
    sweep.moveFirst();
    eft::FillCenterList(ctx);
    ctx.state.AllCentersSelected = true;
    eft::cmdViewCenterDetails_Click(ctx);
}

void fillBatches(eft::Context& ctx, std::string_view reply, std::size_t piece) {
    const eft::Fetch inPieces = eft::fuzz::fetchInPieces(reply, piece);
    try {
        eft::ReadXmlRows(ctx.rsBatch, "fuzz:EFTMemberBatch.asp", "BatchControl", inPieces);
    } catch (const eft::EftError&) {
        return;
    }
    eft::FillBatchCombo(ctx);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = std::max<std::size_t>(1, data[0] % 64 == 0 ? size : data[0] % 64);
    const std::string_view reply = eft::fuzz::asText(data + 1, size - 1);

    eft::driver::ScriptedHost host(eft::Date{2026, 12, 6});
    eft::Context ctx(host, eft::HttpLimits{});
    fillCentersAndMembers(ctx, std::string(reply));
    fillBatches(ctx, reply, piece);
    return 0;
}
