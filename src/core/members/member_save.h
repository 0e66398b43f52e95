#pragma once
// "&Save": the chosen member rows as save records, posted to the server in one form.
#include "members/save_record_text.h"

namespace eft {

class Context;
class Table;

SaveRow saveRowOf(const Table& sweep);

void cmdSaveMerchandise_Click(Context& ctx);

}  // namespace eft
