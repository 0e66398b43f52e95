#pragma once
// The commands of the center list: select all, deselect all, a single tick, column sort.
namespace eft {

class Context;

void cmdSelectAllCenters_Click(Context& ctx);
void cmdDeSelectAllCenters_Click(Context& ctx);
void lstEFTCenter_ItemCheck(Context& ctx, int line);
void lstEFTCenter_ColumnClick(Context& ctx, int position);


}  // namespace eft
