#pragma once
// Data to run against: the demo sweep for people trying the control, synthetic sweeps of any
// size for benchmarks, and the save body the control would post for a country's rows.
// Everything is deterministic: the same call fills the same rows.
#include <cstddef>
#include <cstdint>

#include "server/bank/payment.h"

namespace eft::server {

class Store;

// About 40 United States and 15 Canadian centers with a few hundred members and their
// charges of types 1, 2 and 3: converted and unconverted rows, reserves, Canadian GST and
// PST, tax-exempt and subscription members, trust ids, and centers whose net is due in as
// well as centers whose net is due out. Every center has a fictitious bank account. Marks the
// database a demo one. Does nothing and answers false unless the database is empty.
bool seedDemo(Store& store);

// `charges` charges in the sweep of one country, `perCenter` to a center and two to a member;
// every center has a bank account; the database is marked a demo one. Ids go on from those in the database, so both countries
// can be seeded into one. Throws StoreError when the country already has centers.
void seedSynthetic(Store& store, std::size_t charges, int country = 1, std::size_t perCenter = 1000);

// A fictitious bank account for a center of the country: a routing number with a valid check
// digit, or a real institution number with an invented transit; the same for the same seed.
bank::BankAccount demoAccount(int country, std::uint64_t seed);

}  // namespace eft::server
