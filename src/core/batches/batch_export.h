#pragma once
// The tab control's Click: "Export Batch" asks for and starts the server's export, and entering
// "Update Batch Status" always reloads the batch list.
#include <cstdint>

namespace eft {

class Context;

void tabEFT_Click(Context& ctx, std::int16_t PreviousTab);
// Whether it failed, the failure box shown.
bool ExportBatchFiles(Context& ctx);

}  // namespace eft
