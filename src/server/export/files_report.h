#pragma once
// `eft-server files`: every bank file the database holds, one line each, after the deliveries
// in doubt; and the administrator's word on one of those.
#include <cstdint>
#include <string>
#include <string_view>

#include "server/output/records.h"

namespace eft::server {

class Store;

// The deliveries in doubt first, one line each with what is known and a blank line after them
// (nothing when there are none); then a header line, and per file: name, batch, country,
// entries, debit and credit totals (with their counts), SHA-256, when published, and when
// delivered, or that its delivery is under way or in doubt, or how its deliveries failed.
std::string filesReport(Store& store);

// The same files as records, a value a field: amounts and their counts apart, the delivery as a
// state ("delivered", "not attempted", "under way", "in doubt", "to be delivered again",
// "failed"), the time it holds since, the attempts and a note (who recorded it, the failure).
output::Records filesRecords(Store& store);

enum class Resolution {
    Delivered,  // the bank has the file: it is not delivered again
    Redeliver,  // it does not: a server that has the file in its folder delivers it again
};

// Resolves the delivery in doubt of the batch's file as `resolution` says, recording who (`user`,
// the account that runs the command, and `as`, a name given for the person, possibly empty) and
// when (`at`). The line to print. Throws std::runtime_error, changing nothing, when the batch has
// no file or its file is not in doubt.
std::string resolveDelivery(Store& store, std::int32_t batchNo, Resolution resolution, std::string_view user,
                            std::string_view as, std::string_view at);

}  // namespace eft::server
