// The server's status post body: the cleared and failed member ids of a batch, the operator
// and the batch number. A body either parses into what it says or is refused with a one-line
// reason.
#include <algorithm>
#include <string>

#include "fuzz_entry.h"
#include "server/pages/form.h"
#include "server/pages/status_form.h"

using eft::fuzz::require;
namespace server = eft::server;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const server::StatusForm form = server::parseStatusBody(eft::fuzz::asText(data, size));
        require(!form.cleared.empty() || !form.failed.empty());
        for (const auto& ref : form.cleared)
            require(std::find(form.failed.begin(), form.failed.end(), ref) == form.failed.end());
        for (const auto* refs : {&form.cleared, &form.failed})
            for (const auto& ref : *refs) require(server::memberRefText(ref).starts_with('-') == ref.sourceTwo);
    } catch (const server::RequestError& e) {
        const std::string_view why = e.what();
        require(!why.empty() && why.find('\n') == std::string_view::npos);
    }
    return 0;
}
