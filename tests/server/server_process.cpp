#include "server_process.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace eft::server::testing {
namespace {


std::size_t collect(char* data, std::size_t size, std::size_t count, void* into) {
    static_cast<std::string*>(into)->append(data, size * count);
    return size * count;
}

}  // namespace

ServerProcess::ServerProcess(const std::vector<std::string>& args, const std::vector<std::string>& env,
                             const std::filesystem::path& dir) {
    static int serial = 0;
    ++serial;
    out_ = dir / ("server-" + std::to_string(serial) + ".out");
    err_ = dir / ("server-" + std::to_string(serial) + ".err");
    std::vector<std::string> argv{EFT_SERVER_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp;
    for (char** e = environ; *e; ++e)
        if (std::string_view(*e).substr(0, 4) != "EFT_") envp.emplace_back(*e);
    envp.insert(envp.end(), env.begin(), env.end());
    pid_ = fork();
    if (pid_ == 0) {
        std::FILE* o = std::freopen(out_.c_str(), "w", stdout);
        std::FILE* e = std::freopen(err_.c_str(), "w", stderr);
        if (!o || !e) _exit(126);
        std::vector<char*> a, v;
        for (auto& s : argv) a.push_back(s.data());
        for (auto& s : envp) v.push_back(s.data());
        a.push_back(nullptr);
        v.push_back(nullptr);
        execve(a[0], a.data(), v.data());
        _exit(127);
    }
    for (int i = 0; i < 1000; ++i) {
        const std::string out = fileText(out_);
        if (out.find('\n') != std::string::npos) {
            base_ = out.substr(0, out.find('\n'));
            return;
        }
        if (waitpid(pid_, &status_, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

ServerProcess::~ServerProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

std::string ServerProcess::origin() const { return base_.substr(0, base_.size() - 5); }

int ServerProcess::port() const { return std::stoi(base_.substr(base_.rfind(':') + 1)); }

std::string ServerProcess::log() const { return fileText(err_); }

std::string ServerProcess::logWith(std::string_view text) const {
    std::string now = log();
    for (int i = 0; i < 300 && now.find(text) == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        now = log();
    }
    return now;
}

int ServerProcess::wait(std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (pid_ > 0 && std::chrono::steady_clock::now() < until) {
        if (waitpid(pid_, &status_, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (pid_ > 0) return -1;
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
}

int ServerProcess::terminate(std::chrono::milliseconds limit) {
    if (pid_ > 0) kill(pid_, SIGTERM);
    return wait(limit);
}

std::string fileText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

Fetched fetch(const std::string& url, const FetchOptions& options) {
    Fetched got;
    CURL* curl = curl_easy_init();
    char error[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &got.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &got.headers);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, options.timeoutMs);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    if (options.method == "HEAD") curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    else if (options.method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, options.body.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(options.body.size()));
    } else if (options.method != "GET") curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, options.method.c_str());
    curl_slist* headers = nullptr;
    for (const auto& h : options.headers) headers = curl_slist_append(headers, h.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_slist* resolve = nullptr;
    for (const auto& r : options.resolve) resolve = curl_slist_append(resolve, r.c_str());
    curl_easy_setopt(curl, CURLOPT_RESOLVE, resolve);
    if (!options.user.empty()) {
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
        curl_easy_setopt(curl, CURLOPT_USERPWD, options.user.c_str());
    }
    if (!options.caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, options.caFile.c_str());
    if (!options.fromAddress.empty()) curl_easy_setopt(curl, CURLOPT_INTERFACE, ("host!" + options.fromAddress).c_str());
    if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &got.status);
    else got.error = error;
    curl_slist_free_all(headers);
    curl_slist_free_all(resolve);
    curl_easy_cleanup(curl);
    return got;
}

RawClient::RawClient(int port, const char* from) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    if (from) {
        sockaddr_in own{};
        own.sin_family = AF_INET;
        inet_pton(AF_INET, from, &own.sin_addr);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&own), sizeof own) != 0) return;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

RawClient::~RawClient() { ::close(fd_); }

bool RawClient::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool RawClient::closedByPeer() {
    char c;
    const ssize_t n = ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

bool RawClient::answered() {
    char c;
    const ssize_t n = ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    return n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
}

std::string RawClient::readAll(std::chrono::milliseconds limit) { return readUntil({}, limit); }

std::string RawClient::readUntil(std::string_view end, std::chrono::milliseconds limit) {
    std::string got;
    const auto until = std::chrono::steady_clock::now() + limit;
    char buf[16384];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
        if (!end.empty() && got.find(end) != std::string::npos) break;
    }
    return got;
}

long raiseOpenFileLimit() {
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    getrlimit(RLIMIT_NOFILE, &files);
    return static_cast<long>(files.rlim_cur);
}

long peakMemoryKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
    return 0;
}

Ran runProgram(const std::string& command, const std::string& input) {
    // A name of its own, so that several threads can run programs at once.
    std::string pattern = (std::filesystem::temp_directory_path() / "eft-in-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0) return {};
    close(fd);
    const std::filesystem::path in = pattern;
    std::ofstream(in) << input;
    Ran ran;
    std::FILE* p = popen((command + " < " + in.string() + " 2>&1").c_str(), "r");
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) ran.out.append(buf, n);
    const int status = pclose(p);
    ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::filesystem::remove(in);
    return ran;
}

}  // namespace eft::server::testing
