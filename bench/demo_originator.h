#pragma once
// An imported database is not a demo one, so a benchmark that exports from one starts its
// servers with an originator file of its own: the demo's values serve.
#include <filesystem>
#include <fstream>

#include "server/bank/originator.h"

namespace eft::bench {

inline void writeDemoOriginator(const std::filesystem::path& file) {
    const eft::server::bank::Originator demo;
    std::ofstream out(file);
    const char* comma = "{";
    for (const auto& [name, field] : eft::server::bank::originatorFields()) {
        out << comma << "\"" << name << "\": \"" << demo.*field << "\"";
        comma = ", ";
    }
    out << "}\n";
}

}  // namespace eft::bench
