#pragma once
// EFTMemb, the embeddable control. A host creates it with its services, calls SetVariables
// with the server base address and the signed-in operator, and from then on feeds it the
// operator's input through the screen's element models (button clicks, ticks, tab choices);
// views render those models. The control never calls back into its host except through
// HostServices, and it keeps nothing between runs.
#include <cstdint>
#include <memory>
#include <string>

#include "control/host_services.h"
#include "net/http.h"
#include "ui/screen.h"

namespace eft {

class Context;
class Table;
struct ControlState;

struct ControlOptions {
    // Timeouts (connect, GET, POST, idle), the reply cap and a CA bundle for the server.
    HttpLimits limits;
};

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

    // The screen's element models: views render them and send the operator's input to them.
    ui::Screen& screen();
    const ControlState& state() const;
    const Table* sweepTable() const;
    const Table& batchTable() const;

private:
    void wireEvents();
    template <typename F>
    auto handler(F f);

    std::unique_ptr<Context> ctx_;
    int eventDepth_ = 0;
};

}  // namespace eft
