// The server's save post body: numbered, form-encoded save records. A body either parses
// into records the server may store or is refused with a one-line reason.
#include <cmath>
#include <string>

#include "fuzz_entry.h"
#include "server/pages/form.h"
#include "server/pages/save_body.h"

using eft::fuzz::require;
namespace server = eft::server;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        // Nothing doubtful is saved: an accepted rate is a finite number above zero.
        for (const server::SaveRecord& r : server::readSaveBody(eft::fuzz::asText(data, size)))
            require(std::isfinite(r.conversionRate) && r.conversionRate > 0);
    } catch (const server::RequestError& e) {
        const std::string_view why = e.what();
        require(!why.empty() && why.find('\n') == std::string_view::npos);
    }
    return 0;
}
