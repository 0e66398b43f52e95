#pragma once
// Loading a country's sweep rows: "&Load Data" and the country options.
#include <cstdint>

namespace eft {

class Context;

void cmdLoadData_Click(Context& ctx);
void optCountry_Click(Context& ctx, std::int16_t Index);
// Fetches the sweep rows of CountryID, derives every row's amounts and fills the center list;
// a failure is shown to the operator with its description.
void LoadSweepData(Context& ctx);

}  // namespace eft
