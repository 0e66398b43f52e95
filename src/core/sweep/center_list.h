#pragma once
// The center summary: one line per center with its amounts due in and out and its net,
// every sweep row's RowTotal, and the grand total.
namespace eft {

class Context;

// Ends quietly on a failure: the lines so far stay, the grand total keeps its caption.
void FillCenterList(Context& ctx);

}  // namespace eft
