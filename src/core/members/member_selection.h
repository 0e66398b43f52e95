#pragma once
// Choosing member lines and keeping the selected total; "&Cancel" back to the centers.
namespace eft {

class Context;

void lstEFTMember_ItemCheck(Context& ctx, int line);
void cmdSelectAllMerchandise_Click(Context& ctx);
void cmdDeSelectAllMerchandise_Click(Context& ctx);
void lstEFTMember_ColumnClick(Context& ctx, int position);
void cmdCancelMerchandiseList_Click(Context& ctx);

}  // namespace eft
