// The core's hot paths on their own, without HTTP: reading a reply, filtering and walking the
// sweep table, the form-field encoder and the save body.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <time.h>
#include <pugixml.hpp>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <limits>
#include <map>
#include <memory>
#include <vector>

#include "bench_data.h"
#include "members/member_save.h"
#include "net/pages.h"
#include "net/url_encode.h"
#include "net/xml_reader.h"
#include "tables/field_lists.h"
#include "text/text_forms.h"

namespace eft::bench {
namespace {

constexpr std::size_t kReplyRows = 100'000;

// The baseline: pugixml with the options a DOM reader of these replies needs.
constexpr unsigned kParseOptions =
    pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol | pugi::parse_comments | pugi::parse_pi;

// The reader is fed as the transfer feeds it: in pieces of libcurl's largest write.
constexpr std::size_t kPiece = 64 * 1024;

// Every node of the tree visited and its name and value looked at: the least a reader over a
// DOM does on top of the parse.
std::size_t walk(const pugi::xml_document& doc) {
    std::size_t seen = 0;
    for (pugi::xml_node record : doc.document_element().children())
        for (pugi::xml_node field : record.children()) {
            seen += std::char_traits<char>::length(field.name());
            for (pugi::xml_node v : field.children()) seen += std::char_traits<char>::length(v.value());
        }
    return seen;
}

// CPU time of the calling thread, page faults included (they are the thread's system time).
// Two cores shared by many jobs make wall time a measure of the neighbours; this is not.
double threadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Parse alone: the floor any DOM-based reader stands on.
void BM_XmlParseOnly(benchmark::State& state) {
    const std::string& reply = sweepReply(kReplyRows);
    for (auto _ : state) {
        state.PauseTiming();
        std::string copy = freshCopy(reply);
        auto doc = std::make_unique<pugi::xml_document>();
        state.ResumeTiming();
        const pugi::xml_parse_result r = doc->load_buffer_inplace(copy.data(), copy.size(), kParseOptions);
        benchmark::DoNotOptimize(r.status);
        state.PauseTiming();
        if (!r) state.SkipWithError(r.description());
        doc.reset();  // freeing the DOM is not part of either side's figure
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
}
BENCHMARK(BM_XmlParseOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadXmlRows(benchmark::State& state) {
    const std::string& reply = sweepReply(kReplyRows);
    std::size_t tableBytes = 0;
    std::size_t rows = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::string copy = freshCopy(reply);
        auto table = std::make_unique<Table>(makeTable("rsSweep", sweepFields()));
        state.ResumeTiming();
        readXmlRowsFromBuffer(*table, copy, "CenterID", "generated sweep", kPiece);
        state.PauseTiming();
        rows = table->rowCount();  // builds the visible-row index, counted below as well
        tableBytes = table->memoryBytes();
        table.reset();
        state.ResumeTiming();
    }
    if (rows != kReplyRows) state.SkipWithError("the reader did not produce every row");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["xml_MB"] = static_cast<double>(reply.size()) / 1e6;
    state.counters["table_MB"] = static_cast<double>(tableBytes) / 1e6;
    state.counters["table_per_xml"] = static_cast<double>(tableBytes) / static_cast<double>(reply.size());
}
BENCHMARK(BM_ReadXmlRows)->Unit(benchmark::kMillisecond)->UseRealTime();

struct ParseAndRead {
    double parse = 0;
    double read = 0;
};

// Both sides on the same bytes, one after the other. `trim` hands freed memory back to the
// system first, so each side starts from the same cold heap. The baseline parses and walks a
// tree; the control's reader parses the reply in pieces straight into its table.
ParseAndRead parseThenRead(const std::string& reply, bool trim) {
    ParseAndRead t;
    std::string copy = freshCopy(reply);
    {
        pugi::xml_document doc;
        if (trim) malloc_trim(0);
        const double t0 = threadSeconds();
        const pugi::xml_parse_result r = doc.load_buffer_inplace(copy.data(), copy.size(), kParseOptions);
        const std::size_t seen = walk(doc);
        t.parse = threadSeconds() - t0;
        benchmark::DoNotOptimize(r.status);
        benchmark::DoNotOptimize(seen);
    }
    copy = freshCopy(reply);
    Table table = makeTable("rsSweep", sweepFields());
    if (trim) malloc_trim(0);
    const double t0 = threadSeconds();
    readXmlRowsFromBuffer(table, copy, "CenterID", "generated sweep", kPiece);
    t.read = threadSeconds() - t0;
    benchmark::DoNotOptimize(table);
    return t;
}

// The ratio in the same iterations, so the machine's load drifting between two separate
// benchmarks does not skew it; the median of the iterations' ratios. Manual time is the
// reader's.
void readVsParse(benchmark::State& state, bool trim) {
    const std::string& reply = sweepReply(kReplyRows);
    std::vector<double> parses, reads, ratios;
    for (auto _ : state) {
        const ParseAndRead t = parseThenRead(reply, trim);
        state.SetIterationTime(t.read);
        parses.push_back(t.parse);
        reads.push_back(t.read);
        ratios.push_back(t.read / t.parse);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    };
    state.counters["pugi_parse_walk_ms"] = median(parses) * 1e3;
    state.counters["read_ms"] = median(reads) * 1e3;
    state.counters["read_per_pugi"] = median(ratios);
}

// Fresh pages for both sides, as in a control that loads once: page faults included, and on
// a virtual machine they can outweigh the parsing itself.
void BM_ReadVsParseRatio(benchmark::State& state) { readVsParse(state, true); }
BENCHMARK(BM_ReadVsParseRatio)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// Freed memory kept in the heap (no mmap, no trim), so both sides reuse warm pages: the
// ratio of the two codes' own work, without the kernel's.
void BM_ReadVsParseRatioWarmHeap(benchmark::State& state) {
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
    for (int k = 0; k < 2; ++k) parseThenRead(sweepReply(kReplyRows), false);  // faults the heap in
    readVsParse(state, false);
    mallopt(M_MMAP_MAX, 65536);  // glibc's defaults again
    mallopt(M_TRIM_THRESHOLD, 128 * 1024);
    malloc_trim(0);
}
BENCHMARK(BM_ReadVsParseRatioWarmHeap)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// Sweep tables by size, read once per process.
Table& cachedTable(std::size_t rows) {
    static std::map<std::size_t, Table> cache;
    auto it = cache.find(rows);
    if (it == cache.end()) it = cache.emplace(rows, loadedSweepTable(rows)).first;
    return it->second;
}

// `terms` MemberID terms: the table's own members first (each term lets rows through), then
// ids no row has, when more terms than members are asked for.
std::string memberFilter(Table& t, std::size_t terms) {
    std::vector<std::int32_t> ids = memberIds(t);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    std::vector<std::int32_t> chosen;
    chosen.reserve(terms);
    const std::size_t step = ids.size() > terms ? ids.size() / terms : 1;
    for (std::size_t k = 0; k < ids.size() && chosen.size() < terms; k += step) chosen.push_back(ids[k]);
    for (std::int32_t absent = 900'000'000; chosen.size() < terms; ++absent) chosen.push_back(absent);
    return orFilter("MemberID", chosen);
}

std::size_t filterAndWalk(Table& t, const std::string& filter) {
    t.moveFirst();
    t.setFilter(filter);
    std::size_t visited = 0;
    for (t.moveFirst(); !t.eof(); t.moveNext()) ++visited;
    return visited;
}

// setFilter then a walk to EOF; args: table rows, filter terms.
void BM_FilterWalk(benchmark::State& state) {
    const auto rows = static_cast<std::size_t>(state.range(0));
    const auto terms = static_cast<std::size_t>(state.range(1));
    Table& t = cachedTable(rows);
    const std::string filter = memberFilter(t, terms);
    std::size_t visited = 0;
    for (auto _ : state) {
        visited = filterAndWalk(t, filter);
        benchmark::DoNotOptimize(visited);
    }
    t.setFilter("");
    state.SetComplexityN(state.range(0));
    state.counters["visible"] = static_cast<double>(visited);
    state.counters["filter_KB"] = static_cast<double>(filter.size()) / 1e3;
}
BENCHMARK(BM_FilterWalk)->Args({100'000, 10'000})->Unit(benchmark::kMillisecond);
// Rows and terms grow together: the time must grow linearly with them.
BENCHMARK(BM_FilterWalk)
    ->Args({1'000, 1'000})
    ->Args({10'000, 10'000})
    ->Args({100'000, 100'000})
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN)
    ->Name("BM_FilterWalkGrowth");

// "&Details" of every center by name: one CenterID term a center of the 100,000-row sweep.
void BM_CenterFilterWalk(benchmark::State& state) {
    Table& t = cachedTable(kReplyRows);
    std::vector<std::int32_t> centers;
    for (t.moveFirst(); !t.eof(); t.moveNext()) {
        const std::int32_t c = t.integer(sweep_field::CenterID).value_or(0);
        if (centers.empty() || centers.back() != c) centers.push_back(c);
    }
    const std::string filter = orFilter("CenterID", centers);
    std::size_t visited = 0;
    for (auto _ : state) {
        visited = filterAndWalk(t, filter);
        benchmark::DoNotOptimize(visited);
    }
    t.setFilter("");
    state.counters["terms"] = static_cast<double>(centers.size());
    state.counters["visible"] = static_cast<double>(visited);
}
BENCHMARK(BM_CenterFilterWalk)->Unit(benchmark::kMillisecond);

// The save's member filter at its largest: one term a ticked line, in list order, over the
// whole loaded sweep.
void BM_MemberFilter32767(benchmark::State& state) {
    Table& t = cachedTable(kReplyRows);
    std::vector<std::int32_t> ids = memberIds(t);
    ids.resize(kMaxSaveRecords);
    const std::string filter = orFilter("MemberID", ids);
    std::size_t visited = 0;
    for (auto _ : state) {
        visited = filterAndWalk(t, filter);
        benchmark::DoNotOptimize(visited);
    }
    t.setFilter("");
    state.counters["terms"] = static_cast<double>(ids.size());
    state.counters["visible"] = static_cast<double>(visited);
}
BENCHMARK(BM_MemberFilter32767)->Unit(benchmark::kMillisecond);

SaveRow sampleRow() {
    SaveRow r;
    r.MemberID = 104'213;
    r.CenterID = 1'377;
    r.Source = 1;
    r.SweepSequence = 2;
    r.TrustID = 512;
    r.ConversionRate = 1.3125f;
    r.Royalty = 49.95f;
    r.NAC = 25.0f;
    r.RoyaltyReserve = 2.5f;
    r.FranchiseFee = 0.0f;
    r.FranchiseFeeReserve = 0.0f;
    r.GSTshow = 3.28f;
    r.PSTshow = 5.25f;
    r.NMCshow = 0.0f;
    return r;
}

void encodeBench(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        std::string encoded = urlEncode(text);
        benchmark::DoNotOptimize(encoded.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["input_bytes"] = static_cast<double>(text.size());
}

void BM_UrlEncodeSaveRecord(benchmark::State& state) { encodeBench(state, saveRecord(sampleRow(), 7, 2)); }
BENCHMARK(BM_UrlEncodeSaveRecord);

// French member and center names: every accented letter is two UTF-8 bytes in, "%XX" out.
void BM_UrlEncodeLatin1(benchmark::State& state) {
    std::string text;
    while (text.size() < 4096)
        text += "Hélène Bérubé, Geneviève Côté et Josée Gagnon — Centre de conditionnement Québec-Lévis, "
                "Montréal (Côte-des-Neiges) « déjà payé » ½ · ¼ · £ · ©; ";
    encodeBench(state, text);
}
BENCHMARK(BM_UrlEncodeLatin1);

// The anchor for the save body: the same bytes written by hand, the separators already
// encoded, every number by std::to_chars, no code page and no seven-digit rule. It holds for
// the generated sweep, whose amounts are all short decimals.
std::string leanSaveBody(const std::vector<SaveRow>& rows, std::int32_t personId, std::int16_t personType) {
    std::string body;
    body.reserve(rows.size() * 400 + 32);
    char buf[32];
    auto whole = [&](std::int64_t v) { body.append(buf, static_cast<std::size_t>(std::to_chars(buf, buf + 32, v).ptr - buf)); };
    auto number = [&](float v) {
        body.append(buf, static_cast<std::size_t>(std::to_chars(buf, buf + 32, v, std::chars_format::fixed).ptr - buf));
    };
    auto rounded = [&](Amount v) {
        if (v) number(text::roundHalfEven2(*v));
    };
    auto times = [](Amount v, float rate) { return v ? Amount(*v * rate) : Amount(); };
    std::int64_t k = 0;
    for (const SaveRow& r : rows) {
        const float rate = *r.ConversionRate;
        body += "SQL";
        whole(++k);
        body += "=MemberID%3D";
        whole(*r.MemberID);
        body += "%3BStatus%3D14%3BPersonID%3D";
        whole(personId);
        body += "%3BPersonType%3D";
        whole(personType);
        body += "%3BConversionRate%3D";
        number(rate);
        body += "%3BCenterID%3D";
        if (r.CenterID) whole(*r.CenterID);
        body += "%3BSource%3D";
        if (r.Source) whole(*r.Source);
        body += "%3BRoyalty%3D";
        rounded(times(r.Royalty, rate));
        body += "%3BNAC%3D";
        rounded(times(r.NAC, rate));
        body += "%3BRoyaltyReserve%3D";
        rounded(times(r.RoyaltyReserve, rate));
        body += "%3BFranchiseFee%3D";
        rounded(times(r.FranchiseFee, rate));
        body += "%3BFranchiseFeeReserve%3D";
        rounded(times(r.FranchiseFeeReserve, rate));
        body += "%3BGSTshow%3D";
        rounded(r.GSTshow);
        body += "%3BPSTShow%3D";
        rounded(r.PSTshow);
        body += "%3BNMCshow%3D";
        rounded(r.NMCshow);
        body += "%3BSweepSequence%3D";
        if (r.SweepSequence) whole(*r.SweepSequence);
        body += r.TrustID.value_or(0) > 0 ? "%3BTrust%3DTrue&" : "%3BTrust%3DFalse&";
    }
    body += "RecordCount=";
    whole(static_cast<std::int64_t>(rows.size()));
    return body;
}

// The control's save body, as "&Save" writes it: each record written in its encoded form,
// straight into the body's one buffer.
std::string controlSaveBody(const std::vector<SaveRow>& rows, std::int32_t personId, std::int16_t personType) {
    pages::SaveBodyWriter body;
    body.reserve(rows.size());
    for (const SaveRow& r : rows) addSaveRecord(body, r, personId, personType);
    return body.finish();
}

// "&Save" at its limit, 32,767 rows, against the lean writer in the same iterations.
void BM_SaveBody32767(benchmark::State& state) {
    Table& t = cachedTable(kReplyRows);
    std::vector<SaveRow> rows;
    rows.reserve(kMaxSaveRecords);
    for (t.moveFirst(); !t.eof() && rows.size() < kMaxSaveRecords; t.moveNext()) rows.push_back(saveRowOf(t));
    if (controlSaveBody(rows, 7, 2) != leanSaveBody(rows, 7, 2)) {
        state.SkipWithError("the lean writer does not write the control's bytes");
        return;
    }
    std::size_t bodyBytes = 0;
    double control = 0, lean = 0;
    for (auto _ : state) {
        const double t0 = threadSeconds();
        const std::string body = controlSaveBody(rows, 7, 2);
        const double t1 = threadSeconds();
        const std::string anchor = leanSaveBody(rows, 7, 2);
        const double t2 = threadSeconds();
        benchmark::DoNotOptimize(body.data());
        benchmark::DoNotOptimize(anchor.data());
        bodyBytes = body.size();
        control += t1 - t0;
        lean += t2 - t1;
        state.SetIterationTime(t1 - t0);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["records"] = static_cast<double>(rows.size());
    state.counters["body_MB"] = static_cast<double>(bodyBytes) / 1e6;
    state.counters["control_ms"] = control / n * 1e3;
    state.counters["lean_ms"] = lean / n * 1e3;
    state.counters["control_per_lean"] = control / lean;
}
BENCHMARK(BM_SaveBody32767)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace
}  // namespace eft::bench
