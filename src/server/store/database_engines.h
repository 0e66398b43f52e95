#pragma once
// The two engines behind Database, each in a file of its own.
#include <memory>
#include <string>

#include "server/store/database.h"

namespace eft::server {

std::unique_ptr<detail::ConnectionEngine> openSqlite(const std::string& file);
std::unique_ptr<detail::ConnectionEngine> openPostgres(const std::string& uri);

}  // namespace eft::server
