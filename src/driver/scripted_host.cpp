#include "driver/scripted_host.h"

namespace eft::driver {

MsgAnswer ScriptedHost::messageBox(const MessageBoxRequest& request) {
    MsgAnswer answer = request.buttons == MsgButtons::Ok ? MsgAnswer::Ok : request.defaultAnswer;
    if (!answers_.empty()) {
        const MsgAnswer queued = answers_.front();
        answers_.pop_front();
        const bool fits = request.buttons == MsgButtons::Ok ? queued == MsgAnswer::Ok : queued != MsgAnswer::Ok;
        if (fits) answer = queued;
    }
    shown_.push_back(ShownBox{request, answer});
    if (onMessageBox) onMessageBox(shown_.back());
    return answer;
}

}  // namespace eft::driver
