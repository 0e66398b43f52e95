#pragma once
// What the control asks of its host: a modal message box, the mouse pointer, letting pending
// user-interface events run, keyboard focus, and today's date. The Qt widget implements it
// with real widgets; the driver and the tests with scripted answers and a fixed date.
#include <string>

#include "base/calendar.h"
#include "ui/screen.h"

namespace eft {

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

class HostServices {
public:
    virtual ~HostServices() = default;
    virtual MsgAnswer messageBox(const MessageBoxRequest& request) = 0;
    virtual void setMousePointer(ui::MousePointer pointer) = 0;
    virtual void processEvents() = 0;
    // Gives the keyboard focus to an element; false when it cannot (the control is not shown).
    virtual bool setFocus(const std::string& element) = 0;
    virtual Date today() = 0;

    // Notices for hosts that show them; a host that does not care ignores them.
    // The control is waiting for a transfer and ignores the operator's input (true), or no longer.
    virtual void busyChanged(bool /*busy*/) {}
    // Bytes of the current transfer's reply received so far; total is -1 while unknown.
    virtual void transferProgress(long long /*received*/, long long /*total*/) {}
};

}  // namespace eft
