#pragma once
// Inet1_StateChanged: the only place where the reply to a post is read, judged and acted on.
// Which screen it refreshes depends on the tab showing when the reply completes.
#include <cstdint>
#include <string_view>

namespace eft {

class Context;

void Inet1_StateChanged(Context& ctx, std::int16_t State);

// A reply is blank when nothing but spaces (U+0020) remains once they are trimmed.
bool isBlankReply(std::string_view reply);

}  // namespace eft
