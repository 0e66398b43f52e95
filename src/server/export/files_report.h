#pragma once
// `eft-server files`: every bank file the database holds, one line each.
#include <string>

namespace eft::server {

class Store;

// A header line, then per file: name, batch, country, entries, debit and credit totals (with
// their counts), SHA-256, when published, and when delivered or how its deliveries failed.
std::string filesReport(Store& store);

}  // namespace eft::server
