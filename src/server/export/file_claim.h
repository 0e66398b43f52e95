#pragma once
// Who may publish or deliver a bank file. Several servers on one database, each with an export
// folder of its own, must put a committed file into exactly one folder and hand it to the bank
// once. So a server claims the file in the database, inside a write transaction (under the
// writer lock, so two claims never both succeed), before it writes the file out or runs the
// delivery command, and lets the claim go when done. A claim names its holder (host, pid
// namespace and process) and lasts a lease. It is abandoned, and any server may take it over,
// when its lease has run out or its holder is a process of this host and namespace that no
// longer runs (a server killed between its commit and its publishing, started again).
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

namespace eft::server {

class Store;
struct FileClaim;

// This process: "host/pid:[namespace] pid".
std::string thisProcess();

// A folder of this host as the database records where a file was published: "host:/path".
std::string publishPlace(const std::filesystem::path& dir);

std::int64_t epochSeconds();

// Whether nobody is working on a file under this claim any more, at `now` (epochSeconds).
bool claimAbandoned(const FileClaim& claim, std::int64_t now);

// How long an export may take from its commit to its files published.
inline constexpr std::chrono::seconds kPublishLease{600};

// Claims the file for this process for `lease`, unless another holder's claim stands; the
// caller holds a write transaction and commits it for the claim to count.
bool claimFile(Store& store, std::int32_t batchNo, std::chrono::seconds lease);

}  // namespace eft::server
