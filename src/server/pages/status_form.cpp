#include "server/pages/status_form.h"

#include <charconv>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>

#include "server/pages/form.h"

namespace eft::server {
namespace {

std::int64_t positiveWhole(std::string_view key, std::string_view value, std::int64_t max) {
    std::int64_t v = 0;
    const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
    const bool digitsOnly = !value.empty() && value.front() >= '0' && value.front() <= '9';
    if (!digitsOnly || ec != std::errc() || ptr != value.data() + value.size() || v > max)
        throw RequestError(std::string(key) + " " + quote(value) + " is not a valid number");
    return v;
}

MemberRef memberRef(std::string_view key, std::string_view value) {
    MemberRef ref;
    ref.sourceTwo = value.starts_with('-');
    const std::string_view digits = ref.sourceTwo ? value.substr(1) : value;
    const std::int64_t id = digits.empty() ? 0 : positiveWhole(key, digits, std::numeric_limits<std::int32_t>::max());
    if (id <= 0) throw RequestError(std::string(key) + " " + quote(value) + " is not a member id");
    ref.memberId = static_cast<std::int32_t>(id);
    return ref;
}

std::int64_t refKey(const MemberRef& ref) { return ref.sourceTwo ? -std::int64_t{ref.memberId} : ref.memberId; }

}  // namespace

std::string memberRefText(const MemberRef& ref) {
    return (ref.sourceTwo ? "-" : "") + std::to_string(ref.memberId);
}

StatusBodyReader::StatusBodyReader(std::size_t maxPairs)
    : decoder_([this](FormPair&& p) { take(std::move(p)); }, maxPairs) {}

void StatusBodyReader::take(FormPair&& p) {
    auto once = [&p](std::optional<std::int64_t>& slot, std::int64_t max) {
        if (slot) throw RequestError(p.key + " appears twice");
        slot = positiveWhole(p.key, p.value, max);
    };
    if (p.key == "GoodMemb" || p.key == "BadMemb") {
        const MemberRef ref = memberRef(p.key, p.value);
        const bool cleared = p.key == "GoodMemb";
        const auto [at, added] = named_.emplace(refKey(ref), cleared);
        if (!added && at->second != cleared)
            throw RequestError("Member " + memberRefText(ref) + " is named both cleared and failed");
        // A center lists a member once per item, so the same id may come several times.
        if (added) (cleared ? form_.cleared : form_.failed).push_back(ref);
    } else if (p.key == "PersonID") {
        once(personId_, std::numeric_limits<std::int32_t>::max());
    } else if (p.key == "PersonType") {
        once(personType_, std::numeric_limits<std::int16_t>::max());
    } else if (p.key == "BatchNo") {
        once(batchNo_, std::numeric_limits<std::int32_t>::max());
    } else {
        throw RequestError("Unexpected key " + quote(p.key));
    }
}

void StatusBodyReader::feed(std::string_view piece) { decoder_.feed(piece); }

StatusForm StatusBodyReader::finish() {
    decoder_.finish();
    if (!personId_) throw RequestError("PersonID is missing");
    if (!personType_) throw RequestError("PersonType is missing");
    if (!batchNo_) throw RequestError("BatchNo is missing");
    if (form_.cleared.empty() && form_.failed.empty()) throw RequestError("No member ids were given");
    form_.personId = static_cast<std::int32_t>(*personId_);
    form_.personType = static_cast<std::int16_t>(*personType_);
    form_.batchNo = static_cast<std::int32_t>(*batchNo_);
    return std::move(form_);
}

StatusForm parseStatusBody(std::string_view body) {
    StatusBodyReader reader(static_cast<std::size_t>(-1));
    reader.feed(body);
    return reader.finish();
}

}  // namespace eft::server
