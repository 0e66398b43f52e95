#pragma once
// The status post of a batch: the member ids of the cleared and of the failed centers, the
// operator and the batch number. An id written with a leading '-' stands for the member's
// items of source 2, a plain id for its other items.
#include <cstdint>
#include <string>
#include <string_view>
#include <optional>
#include <unordered_map>
#include <vector>

#include "server/pages/form.h"

namespace eft::server {

struct MemberRef {
    std::int32_t memberId = 0;
    bool sourceTwo = false;
    friend bool operator==(const MemberRef&, const MemberRef&) = default;
};

struct StatusForm {
    std::vector<MemberRef> cleared;  // in body order, each reference once
    std::vector<MemberRef> failed;
    std::int32_t personId = 0;
    std::int16_t personType = 0;
    std::int32_t batchNo = 0;
};

// The status body read while it arrives. A body names each waiting item's member once, and
// the operator, the type and the batch once each, so it has at most maxPairs pairs; the first
// one past that is refused before it is decoded.
class StatusBodyReader {
public:
    explicit StatusBodyReader(std::size_t maxPairs);
    void feed(std::string_view piece);
    // Throws RequestError naming the fault: an unknown or repeated key, a value that is not an
    // id, a reference named both cleared and failed, no member at all, too many pairs.
    StatusForm finish();

private:
    void take(FormPair&& p);

    FormDecoder decoder_;
    StatusForm form_;
    std::optional<std::int64_t> personId_, personType_, batchNo_;
    std::unordered_map<std::int64_t, bool> named_;  // reference -> named as cleared
};

// The whole body at once, without a cap.
StatusForm parseStatusBody(std::string_view body);

// "-1002" for member 1002's source-2 items, "1001" for member 1001's others.
std::string memberRefText(const MemberRef& ref);

}  // namespace eft::server
