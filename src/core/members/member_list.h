#pragma once
// "&Details": the member rows of the ticked centers on the "Membership Sweep" tab.
namespace eft {

class Context;

void cmdViewCenterDetails_Click(Context& ctx);

}  // namespace eft
