#pragma once
// The control's transfer component for its two form posts, Inet1: a request is started and
// then driven by the sender's wait loop. When it ends, StateChanged reports 11 (error) or 12
// (response completed) from inside that loop, and the reply body is read in pieces. A reply
// whose HTTP status is not 2xx is a failed request, and a redirect is never followed: the
// body of a save goes to the address it was meant for or nowhere.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "net/http.h"

namespace eft {

class Transfer {
public:
    static constexpr std::int16_t kStateError = 11;
    static constexpr std::int16_t kStateResponseCompleted = 12;
    // The most of a post's reply that is held, whatever the read cap.
    static constexpr std::size_t kMaxPostReplyBytes = std::size_t{16} << 20;

    explicit Transfer(HttpLimits limits = {});
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // Takes effect from the next request on.
    void setLimits(const HttpLimits& limits) { limits_ = limits; }

    // Starts a request; throws EftError when one is still executing or it cannot start.
    // `header` is one "Name: value" line, and so is `extraHeader` unless it is empty.
    void execute(const std::string& address, std::string_view verb, std::string body, std::string_view header,
                 std::string_view extraHeader = {});

    // Advances the request; when it has just ended, raises StateChanged before answering false.
    bool stillExecuting();

    // Ends the request under way without a state change: nobody is left to hear it.
    void abort();

    // Sleeps until the request has something to do, at most `timeout`: the wait loop's pause.
    void waitForActivity(std::chrono::milliseconds timeout);

    // The next piece of the reply body, at most maxBytes; empty once the body is exhausted.
    std::string getChunk(std::size_t maxBytes);

    // Why the last request failed (state 11), for logs and tests.
    const std::string& lastError() const { return error_; }
    // The same in the operator's words, with what to do about it.
    const std::string& lastCause() const { return cause_; }
    // The address of the last request, without credentials.
    const std::string& lastAddress() const { return address_; }
    // Whether the last request failed (state 11) after it went out whole, without an answer
    // that says what became of it: the reply did not come in time, stopped, broke off or
    // outgrew the cap, or a gateway gave up waiting for it (HTTP 504). The server may well have
    // done what was asked. lastCause() then says what happened to the answer, without advice.
    bool outcomeUnknown() const { return outcomeUnknown_; }
    // The status of a last reply that completed but was not 2xx (state 11 too); 0 otherwise.
    long refusedStatus() const { return refusedStatus_; }
    // The body of that refusal: the server's reason, if it gave one. It is never read as a reply.
    const std::string& refusedReply() const { return refusedReply_; }
    // Reply bytes received so far by the request under way (or the last one), and the
    // announced total, -1 while unknown.
    long long received() const { return static_cast<long long>(reply_.size()); }
    long long announcedTotal() const;

    std::function<void(std::int16_t state)> onStateChanged;

private:
    struct Impl;
    void finish();

    HttpLimits limits_;
    HttpLimits postLimits_;  // the limits of the request under way
    std::unique_ptr<Impl> impl_;
    std::string reply_;
    std::size_t readPos_ = 0;
    std::string error_;
    std::string cause_;
    std::string address_;
    long refusedStatus_ = 0;
    bool outcomeUnknown_ = false;
    std::string refusedReply_;
    long long lastTotal_ = -1;
    bool executing_ = false;
};

}  // namespace eft
