#pragma once
// The EFTMemb control without a user-interface toolkit: the control itself, the services it
// asks of its host, and its options. A host implements HostServices, creates one EFTMemb with
// it, calls SetVariables, and renders the screen's element models (the Qt widget in
// <eftmemb/eftmemb_widget.h> does all of that for Qt hosts).
//
// This header stands alone: it names the library's internal types (the screen, the tables,
// the state values) only by declaration.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace eft {

// A calendar date, as the host's today() reports it.
struct Date {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    friend bool operator==(const Date&, const Date&) = default;
};

namespace ui {
class Screen;
enum class MousePointer { Normal, Hourglass };
}  // namespace ui

// Critical: the error icon, for a failure the operator must not take for success.
enum class MsgIcon { None, Information, Exclamation, Critical };
enum class MsgButtons { Ok, YesNo };
enum class MsgAnswer { Ok, Yes, No };

struct MessageBoxRequest {
    std::string text;
    std::string title;  // empty: the host's default caption for the control's boxes
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
    MsgAnswer defaultAnswer = MsgAnswer::Ok;
};

// What the control asks of its host: a modal message box, the mouse pointer, letting pending
// user-interface events run, keyboard focus, and today's date. The notices after them are for
// hosts that show them; their default is to ignore them.
class HostServices {
public:
    virtual ~HostServices() = default;
    virtual MsgAnswer messageBox(const MessageBoxRequest& request) = 0;
    virtual void setMousePointer(ui::MousePointer pointer) = 0;
    virtual void processEvents() = 0;
    // Gives the keyboard focus to an element; false when it cannot (the control is not shown).
    virtual bool setFocus(const std::string& element) = 0;
    virtual Date today() = 0;

    // The control is waiting for a transfer and ignores the operator's input (true), or no longer.
    virtual void busyChanged(bool /*busy*/) {}
    // Bytes of the current transfer's reply received so far; total is -1 while unknown.
    virtual void transferProgress(long long /*received*/, long long /*total*/) {}
    // A failure message the control showed the operator (or handed to a box handler).
    virtual void errorShown(const std::string& /*message*/) {}
    // A country's sweep rows were read and the center list filled.
    virtual void sweepLoaded(int /*country*/, int /*rows*/) {}
    // The server accepted a save of that many member rows.
    virtual void saved(int /*rows*/) {}
    // The server answered an export request with this report.
    virtual void exported(const std::string& /*report*/) {}
    // The server accepted a status commit of a batch: member ids reported cleared and failed.
    virtual void batchCommitted(int /*batch*/, int /*cleared*/, int /*failed*/) {}
    // Another tab became the tab showing, by the operator's choice or the control's.
    virtual void tabChanged(int /*index*/) {}
    // SetVariables stored the server address and the operator's identity (changed or not).
    virtual void variablesSet() {}
};

// Bounds of every request the control makes.
struct HttpLimits {
    std::chrono::milliseconds connectTimeout{10'000};
    std::chrono::milliseconds getTimeout{120'000};   // a GET's whole transfer
    std::chrono::milliseconds postTimeout{120'000};  // a POST's whole transfer
    // A transfer that receives nothing for this long fails, whatever its whole time allows.
    std::chrono::seconds lowSpeedTime{30};
    std::size_t maxReplyBytes = std::size_t{1} << 30;
    // A CA bundle for a server certified by a private CA; empty: the system's. Certificates
    // and host names are always checked.
    std::string caFile;
};

struct ControlOptions {
    // Timeouts (connect, GET, POST, idle), the reply cap and a CA bundle for the server.
    HttpLimits limits;
};

class Context;
class Table;
struct ControlState;

// EFTMemb, the embeddable control. A host creates it with its services, calls SetVariables
// with the server base address and the signed-in operator, and from then on feeds it the
// operator's input through the screen's element models (button clicks, ticks, tab choices);
// views render those models. The control never calls back into its host except through
// HostServices, and it keeps nothing between runs.
class EFTMemb {
public:
    // UserControl_Initialize: the fixed screen, the version captions, the country, the tables.
    explicit EFTMemb(HostServices& host, ControlOptions options = {});
    // UserControl_Terminate: releases the sweep table; nothing is sent or saved.
    ~EFTMemb();
    EFTMemb(const EFTMemb&) = delete;
    EFTMemb& operator=(const EFTMemb&) = delete;

    // Stores the server base address (ending with "/") and the operator's identity, then puts
    // the focus on "&Load Data". Nothing is fetched.
    void SetVariables(const std::string& ptServerName, const std::int32_t& PersonID, const std::int16_t& PersonType);

    // New options, for the requests from now on (a request under way keeps its own).
    void setOptions(const ControlOptions& options);

    // The form-field encoder of the control's posts, for hosts' own requests too.
    std::string urlEncode(const std::string& theData) const;

    // The library's views and tools reach the screen's element models, the state values and
    // the tables through these; their types are the library's own.
    ui::Screen& screen();
    const ControlState& state() const;
    const Table* sweepTable() const;
    const Table& batchTable() const;

private:
    void wireEvents();
    template <typename F>
    auto handler(F f);

    std::shared_ptr<Context> ctx_;
};

// "2.0.7": the library's version, as both version labels show it.
std::string libraryVersion();

}  // namespace eft
