#pragma once
// Everything a handler works on: the host's services, the screen, the control's state values,
// the two working tables and the transfer component. One Context lives inside each EFTMemb.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "control/host_services.h"
#include "net/address.h"
#include "net/http.h"
#include "net/transfer.h"
#include "tables/table.h"
#include "text/text_forms.h"
#include "ui/screen.h"
#include "ui/phrases.h"

namespace eft {

// The state values the control keeps from creation to destruction.
struct ControlState {
    std::string ptServerName;
    std::int32_t PersonID = 0;
    std::int16_t PersonType = 0;
    std::int16_t CountryID = 0;
    bool AllCentersSelected = false;
    bool AllMembersSelected = false;
    std::string CenterFilter;
    // The stamp the server gave the last load of each country's sweep (index 1 and 2), sent
    // back with a save of its rows; empty when the server gave none.
    std::string SweepStamp[3];
    // Whole cents, so that each label equals the sum of the "Total" texts it adds up.
    text::Cents EligibleAmount = 0;
    text::Cents SelectedAmount = 0;
};

inline constexpr int kTabCenters = 0;
inline constexpr int kTabMembers = 1;
inline constexpr int kTabExport = 2;
inline constexpr int kTabBatchStatus = 3;

// The host as the control reaches it: every call goes to the host until the control is
// destroyed, and none after, while handlers still on the stack wind down.
class HostLink final : public HostServices {
public:
    explicit HostLink(HostServices& host) : host_(&host), postOutcome_(dynamic_cast<PostOutcomeNotice*>(&host)) {}
    void detach() {
        host_ = nullptr;
        postOutcome_ = nullptr;
    }
    bool attached() const { return host_ != nullptr; }

    // Detached: a question is answered No and any other box its default, unseen.
    MsgAnswer messageBox(const MessageBoxRequest& r) override {
        if (host_) return host_->messageBox(r);
        return r.buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
    }
    void setMousePointer(ui::MousePointer p) override {
        if (host_) host_->setMousePointer(p);
    }
    void processEvents() override {
        if (host_) host_->processEvents();
    }
    bool setFocus(const std::string& element) override { return host_ && host_->setFocus(element); }
    Date today() override { return host_ ? host_->today() : Date{}; }
    void busyChanged(bool b) override {
        if (host_) host_->busyChanged(b);
    }
    void transferStarted(const std::string& what) override {
        if (host_) host_->transferStarted(what);
    }
    void transferProgress(long long r, long long t) override {
        if (host_) host_->transferProgress(r, t);
    }
    void errorShown(const std::string& m) override {
        if (host_) host_->errorShown(m);
    }
    void sweepLoaded(int c, int r) override {
        if (host_) host_->sweepLoaded(c, r);
    }
    void saved(int r) override {
        if (host_) host_->saved(r);
    }
    void exported(const std::string& r) override {
        if (host_) host_->exported(r);
    }
    void batchCommitted(int b, int c, int f) override {
        if (host_) host_->batchCommitted(b, c, f);
    }
    void tabChanged(int i) override {
        if (host_) host_->tabChanged(i);
    }
    void variablesSet() override {
        if (host_) host_->variablesSet();
    }
    void postOutcomeUnknown(const std::string& post, const std::string& message) {
        if (postOutcome_) postOutcome_->postOutcomeUnknown(post, message);
    }

private:
    HostServices* host_;
    PostOutcomeNotice* postOutcome_;
};

// Shared by the control and the handlers running in it: a control destroyed during a nested
// wait (its host closed it from an event) leaves the context to the handlers on the stack,
// which end their transfers and return without reaching the host again.
class Context : public std::enable_shared_from_this<Context> {
public:
    Context(HostServices& host, const HttpLimits& limits);

    HostLink host;
    // Handlers on the stack; the outermost one's end hands the screen's changes to the views.
    int eventDepth = 0;
    // The control is gone: transfers under way end, none start, the host is not called.
    bool closed() const { return !host.attached(); }
    void close();
    HttpLimits limits;
    ui::Screen screen;
    ControlState state;
    // A login given while there was no server address, for the first address set.
    Credentials waitingCredentials;
    // A failed export was just shown: the batch list read after it shows no box of its own.
    bool batchListFailureTold = false;
    std::optional<Table> rsSweep;
    Table rsBatch;
    Transfer Inet1;

    // Host services, with the screen brought up to date first so the operator sees the
    // state the control is in while the host runs its event loop.
    MsgAnswer messageBox(const MessageBoxRequest& request);
    // A failure the operator must see: its box, then the host's notice of it, so a host that
    // listens for errors hears of every one the control shows.
    void showFailure(const MessageBoxRequest& request);
    void doEvents();
    void setMousePointer(ui::MousePointer pointer);

    Table& sweep();

    // How the control's GETs are run: with this control's limits, through curl's multi
    // interface, the host's events running during the wait while the operator's input is
    // ignored (InputGuard). From the caller's view the read is synchronous. `what` tells the
    // host what is loading; `outcome`, when given, receives the last transfer's result, so a
    // failure can be told in the operator's words.
    Fetch fetch(std::string what = std::string(ui::phrase::kReadingServer), FetchResult* outcome = nullptr);

    // Starts a form post through Inet1 and waits until it is over, letting pending events run
    // and sleeping in the transfer's poll between turns. The reply handler runs in this wait.
    void postFormAndWait(const std::string& address, std::string body, std::string_view extraHeader = {});

    // Whether the control waits for a transfer now.
    bool busy() const { return busyDepth_ > 0; }

    // New limits, for the requests from now on.
    void setLimits(const HttpLimits& l);

    // Tells the host when the control starts and stops waiting for transfers (once for nested
    // waits, such as the batch list read while a commit's reply is handled).
    class BusyScope {
    public:
        explicit BusyScope(Context& ctx);
        ~BusyScope();
        BusyScope(const BusyScope&) = delete;
        BusyScope& operator=(const BusyScope&) = delete;

    private:
        Context& ctx_;
    };

private:
    int busyDepth_ = 0;
};

// Restores the normal pointer when a handler's failure path leaves early.
class PointerGuard {
public:
    explicit PointerGuard(Context& ctx) : ctx_(ctx) {}
    ~PointerGuard() { ctx_.setMousePointer(ui::MousePointer::Normal); }
    PointerGuard(const PointerGuard&) = delete;
    PointerGuard& operator=(const PointerGuard&) = delete;

private:
    Context& ctx_;
};

}  // namespace eft
