#pragma once
// The real eft-server as a child process, and requests to it through libcurl, as a site's
// clients would make them.
#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace eft::server::testing {

class ServerProcess {
public:
    // Starts eft-server with these arguments and extra environment ("NAME=value"), and waits
    // for the base address it prints (or for it to end).
    ServerProcess(const std::vector<std::string>& args, const std::vector<std::string>& env,
                  const std::filesystem::path& dir);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool started() const { return !base_.empty(); }
    pid_t pid() const { return pid_; }
    const std::string& base() const { return base_; }  // "http://127.0.0.1:PORT/eft/"
    std::string origin() const;                        // "http://127.0.0.1:PORT"
    int port() const;
    std::string log() const;  // standard error so far
    // The log once it holds the text (a request's line is written just after its reply), or
    // as it is after a few seconds.
    std::string logWith(std::string_view text) const;

    // Sends SIGTERM and waits up to `limit`; the exit status, or -1 when it did not end.
    int terminate(std::chrono::milliseconds limit);
    // Waits for it to end by itself; the exit status, or -1.
    int wait(std::chrono::milliseconds limit);

private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::filesystem::path out_, err_;
    std::string base_;
};

struct Fetched {
    long status = 0;  // 0: no reply
    std::string body;
    std::string headers;
    std::string error;  // libcurl's reason when there was no reply
};

struct FetchOptions {
    std::string method = "GET";
    std::string body = {};  // posted when method is POST
    std::vector<std::string> headers = {};
    std::string user = {};         // "name:password" for Basic authentication
    std::string caFile = {};       // trust this CA instead of the system's
    std::string fromAddress = {};  // the client's own address, e.g. 127.0.0.2
    std::vector<std::string> resolve = {};  // "name:port:address"
    long timeoutMs = 10000;
};

Fetched fetch(const std::string& url, const FetchOptions& options = {});

// A file's whole content, byte for byte ("" when it cannot be read).
std::string fileText(const std::filesystem::path& file);

// A socket to the server (from 127.0.0.1 or another loopback address) that sends exactly
// what it is told, when it is told.
class RawClient {
public:
    explicit RawClient(int port, const char* from = nullptr);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;
    bool connected() const { return connected_; }
    bool send(std::string_view bytes);
    // Whether the server has closed (or reset) the connection; never waits.
    bool closedByPeer();
    // Whether the server has sent something or closed; never waits.
    bool answered();
    // Everything received until the server closes or `limit` passes.
    std::string readAll(std::chrono::milliseconds limit);
    // What is received until it contains `end`, the server closes or `limit` passes: a reply's
    // head on a connection kept open, without waiting out the limit.
    std::string readUntil(std::string_view end, std::chrono::milliseconds limit);

private:
    int fd_;
    bool connected_ = false;
};

// Raises this process's open-file limit to its hard limit (children inherit it); the limit now.
long raiseOpenFileLimit();

// The peak resident memory of a process in KiB (VmHWM), 0 when unknown.
long peakMemoryKiB(pid_t pid);

// Runs a program to its end with this standard input; its exit status and output.
struct Ran {
    int status = -1;
    std::string out;
};
Ran runProgram(const std::string& command, const std::string& input = {});

}  // namespace eft::server::testing
