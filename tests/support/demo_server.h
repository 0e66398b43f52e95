#pragma once
// The reference server over a fresh demo database in a temporary folder of its own, which goes
// when the server does: what every end-to-end test starts from.
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "server/embedded_server.h"

namespace eft::test {

struct DemoServer {
    explicit DemoServer(const std::string& tag)
        : dir(std::filesystem::temp_directory_path() / ("eft-" + tag + "-" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        server::EmbeddedOptions options;
        options.dbPath = dir / "eft.sqlite";
        options.exportDir = dir / "export";
        options.seedDemo = true;
        srv = server::EmbeddedServer::start(options);
    }
    ~DemoServer() {
        srv.reset();
        std::filesystem::remove_all(dir);
    }
    DemoServer(const DemoServer&) = delete;
    DemoServer& operator=(const DemoServer&) = delete;

    std::filesystem::path dir;
    std::unique_ptr<server::EmbeddedServer> srv;
};

}  // namespace eft::test
