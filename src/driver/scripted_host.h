#pragma once
// Host services with a scripted operator: queued answers for message boxes (the box's default
// button when none is queued), a fixed date, and a record of what the operator was shown.
// The driver and the tests use it; pending events are none, since a script is one sequence.
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "control/host_services.h"

namespace eft::driver {

struct ShownBox {
    MessageBoxRequest request;
    MsgAnswer answer;
};

class ScriptedHost : public HostServices, public PostOutcomeNotice {
public:
    explicit ScriptedHost(Date today) : today_(today) {}

    void queueAnswer(MsgAnswer answer) { answers_.push_back(answer); }
    const std::vector<ShownBox>& shown() const { return shown_; }
    // How many failure boxes the control has shown (errorShown), for the driver's exit code.
    int errorsShown() const { return errorsShown_; }
    void clearShown() { shown_.clear(); }
    // Whether the host shows the control yet: focus can only be given to a shown control.
    void setShown(bool shown) { controlShown_ = shown; }

    // Called after each box is answered, for output as it happens.
    std::function<void(const ShownBox&)> onMessageBox;
    // Called whenever the control lets pending events run (tests act "during" a wait here).
    std::function<void()> onProcessEvents;
    // The control's notices of its waits for transfers.
    std::function<void(bool)> onBusyChanged;
    std::function<void(long long, long long)> onTransferProgress;
    // A post whose outcome is unknown, after its failure box.
    std::function<void(const std::string& post, const std::string& message)> onPostOutcomeUnknown;

    MsgAnswer messageBox(const MessageBoxRequest& request) override;
    void setMousePointer(ui::MousePointer) override {}
    void processEvents() override {
        if (onProcessEvents) onProcessEvents();
    }
    bool setFocus(const std::string&) override { return controlShown_; }
    Date today() override { return today_; }
    void busyChanged(bool busy) override {
        if (onBusyChanged) onBusyChanged(busy);
    }
    void errorShown(const std::string&) override { ++errorsShown_; }
    void transferProgress(long long received, long long total) override {
        if (onTransferProgress) onTransferProgress(received, total);
    }
    void postOutcomeUnknown(const std::string& post, const std::string& message) override {
        if (onPostOutcomeUnknown) onPostOutcomeUnknown(post, message);
    }

private:
    Date today_;
    std::deque<MsgAnswer> answers_;
    std::vector<ShownBox> shown_;
    bool controlShown_ = true;
    int errorsShown_ = 0;
};

}  // namespace eft::driver
