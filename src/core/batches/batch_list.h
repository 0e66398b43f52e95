#pragma once
// The batch list: the server's exported batch items into the batch table, one entry per
// batch in the batch box.
#include <string>

namespace eft {

class Context;

// A failed read ends in failedBatchRead: nothing of a list read in part is offered.
void LoadBatchList(Context& ctx);
void FillBatchCombo(Context& ctx);

// A batch list or a batch that could not be read whole: the batch table, the box (down to its
// prompt) and the detail list are emptied, then the failure box says what (the list, or the
// batch numbered `batch` when one is given) could not be read, why and what to do (`cause`,
// in the operator's words; empty: the reply could not be read), with `details` behind "Show
// Details…". A batch cut short must not be offered, or its commit would leave its missing
// centers without a status.
void failedBatchRead(Context& ctx, const std::string& batch, const std::string& cause, const std::string& details);

}  // namespace eft
