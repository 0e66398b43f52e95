// The server's router on whole requests against a live service over a small demo database:
// the first byte picks the method, then the path, the query and the body follow, separated
// by newlines. Every request is answered; anything but a page's success is a one-line reason.
#include <filesystem>
#include <memory>
#include <string>

#include "fuzz_entry.h"
#include "server/http/router.h"
#include "server/pages/service.h"

using eft::fuzz::require;
namespace server = eft::server;
namespace fs = std::filesystem;

namespace {

// One service for the whole run, in a folder of its own that is removed at exit.
struct LiveService {
    LiveService() {
        std::string pattern = (fs::temp_directory_path() / "eft-fuzz-router-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        dir = pattern;
        server::ServiceOptions options;
        options.dbPath = dir / "fuzz.db";
        options.clock = [] { return eft::Timestamp::from(eft::Date{2026, 12, 6}, 10, 0, 0); };
        service = std::make_unique<server::Service>(options);
        service->seedDemo();
    }
    ~LiveService() {
        service.reset();
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    fs::path dir;
    std::unique_ptr<server::Service> service;
};

std::string_view nextPart(std::string_view& rest) {
    const std::size_t end = rest.find('\n');
    const std::string_view part = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static LiveService live;
    if (size == 0) return 0;
    static constexpr std::string_view kMethods[] = {"GET", "HEAD", "POST", "PUT", "DELETE", "OPTIONS", "get", ""};
    std::string_view rest = eft::fuzz::asText(data + 1, size - 1);
    server::HttpRequest request;
    request.method = kMethods[data[0] % std::size(kMethods)];
    request.path = nextPart(rest);
    request.query = nextPart(rest);
    request.body = rest;
    const server::HttpReply reply = server::route(*live.service, request);
    require(reply.status >= 200 && reply.status < 600);
    if (reply.status != 200) {
        require(!reply.body.empty() && reply.body.find('\n') == reply.body.size() - 1);
    }
    return 0;
}
