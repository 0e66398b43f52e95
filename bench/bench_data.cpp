#include "bench_data.h"

#include <map>
#include <mutex>

#include "net/xml_reader.h"
#include "sweep/row_amounts.h"
#include "sweep_generator.h"
#include "tables/field_lists.h"

namespace eft::bench {

const std::string& sweepReply(std::size_t rows) {
    static std::mutex mutex;
    static std::map<std::size_t, std::string> cache;
    std::lock_guard lock(mutex);
    auto it = cache.find(rows);
    if (it == cache.end()) it = cache.emplace(rows, makeSweepReply({.rows = rows})).first;
    return it->second;
}

std::string freshCopy(const std::string& reply) {
    std::string copy;
    copy.reserve(reply.size() + 1);
    copy.assign(reply);
    return copy;
}

Table loadedSweepTable(std::size_t rows) {
    Table t = makeTable("rsSweep", sweepFields());
    std::string reply = freshCopy(sweepReply(rows));
    readXmlRowsFromBuffer(t, reply, "CenterID", "generated sweep");
    t.setFilter("");
    while (!t.eof()) {
        applyRowAmounts(t);
        t.moveNext();
    }
    t.setFilter("");
    return t;
}

std::vector<std::int32_t> memberIds(Table& sweep) {
    std::vector<std::int32_t> ids;
    ids.reserve(sweep.rowCount());
    for (sweep.moveFirst(); !sweep.eof(); sweep.moveNext())
        ids.push_back(sweep.integer(sweep_field::MemberID).value_or(0));
    sweep.moveFirst();
    return ids;
}

std::string orFilter(const char* field, const std::vector<std::int32_t>& values) {
    std::string filter;
    filter.reserve(values.size() * 24);
    for (std::int32_t v : values) {
        filter += filter.empty() ? " " : " OR ";
        filter += field;
        filter += " = ";
        filter += std::to_string(v);
    }
    return filter;
}

}  // namespace eft::bench
