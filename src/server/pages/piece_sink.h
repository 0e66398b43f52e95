#pragma once
// How a body made in pieces is handed on: by the sweep's writer to whoever sends it.
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace eft::server {

// Takes a piece of a body, the whole content of the string; false when the reader is gone,
// which ends the writing. A sink may take the string's memory by swapping in another string,
// whose memory then makes the next piece: tens of megabytes then pass without a copy.
using PieceSink = std::function<bool(std::string& piece)>;

// Sends bytes that stay the writer's, the parts in order as one piece, before it returns; false
// when the reader is gone. Rows the server kept go out so straight from where they are kept,
// with no copy. A sender that must hold a piece after the call has none, and is handed copies.
using LentSink = std::function<bool(std::span<const std::string_view> parts)>;

}  // namespace eft::server
