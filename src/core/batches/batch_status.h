#pragma once
// A batch's centers with their amounts, and "Commit" of the cleared and failed member ids.
namespace eft {

class Context;

void cmbBatches_Click(Context& ctx);
void cmdPassedFailed_Click(Context& ctx);

}  // namespace eft
