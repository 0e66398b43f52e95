#pragma once
// The batch list: the server's exported batch items into the batch table, one entry per
// batch in the batch box.
namespace eft {

class Context;

// Ends quietly on a failure, without refilling the batch box.
void LoadBatchList(Context& ctx);
void FillBatchCombo(Context& ctx);

}  // namespace eft
