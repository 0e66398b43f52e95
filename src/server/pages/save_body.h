#pragma once
// The save post's body read while it arrives: SQL1..SQLn and RecordCount=n, in any order, each
// record decoded as soon as its pair is complete, so the body itself is never held. A save
// has RecordCount + 1 pairs; the count comes last from the control, so until it is read the
// cap is the most records a save may carry, and once read the cap is the count's own.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/pages/form.h"
#include "server/pages/save_record.h"

namespace eft::server {

class SaveBodyReader {
public:
    SaveBodyReader();
    void feed(std::string_view piece);
    // The records in number order. Throws RequestError whose text names the record
    // ("Record SQL3: ...") or the body fault, the same faults in the same order whether the
    // body came whole or in pieces.
    std::vector<SaveRecord> finish();

private:
    void take(FormPair&& p);

    FormDecoder decoder_;
    std::optional<std::int64_t> count_;
    // Record number -> the record, or why it could not be read: a record's fault is told only
    // after the body's own faults, lowest number first.
    std::map<std::int64_t, SaveRecord> records_;
    std::map<std::int64_t, std::string> faults_;
};

// The whole body at once.
std::vector<SaveRecord> readSaveBody(std::string_view body);

}  // namespace eft::server
