#pragma once
// What the control asks of its host and the notices it gives: declared with the public
// control, since hosts implement them.
#include <string>

#include "base/calendar.h"
#include "eftmemb/control.h"
#include "ui/screen.h"

namespace eft {

// A notice beyond HostServices for the library's own hosts (the driver), which may implement it
// beside HostServices: kept out of the installed API, since a host's compiled code lays out
// HostServices and a new virtual function there would move it. Hosts without it hear of the
// same failure through errorShown.
class PostOutcomeNotice {
public:
    // A post ("save", "commit") went out whole and no answer came: the server may have
    // recorded it. `message` is the failure box's text, shown before this notice.
    virtual void postOutcomeUnknown(const std::string& post, const std::string& message) = 0;

protected:
    ~PostOutcomeNotice() = default;
};

}  // namespace eft
