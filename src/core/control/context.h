#pragma once
// Everything a handler works on: the host's services, the screen, the control's state values,
// the two working tables and the transfer component. One Context lives inside each EFTMemb.
#include <cstdint>
#include <optional>
#include <string>

#include "control/host_services.h"
#include "net/http.h"
#include "net/transfer.h"
#include "tables/table.h"
#include "text/text_forms.h"
#include "ui/screen.h"

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

class Context {
public:
    Context(HostServices& host, const HttpLimits& limits);

    HostServices& host;
    HttpLimits limits;
    ui::Screen screen;
    ControlState state;
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
    Fetch fetch(std::string what = "Reading from the server", FetchResult* outcome = nullptr);

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
