#pragma once
// How a body made in pieces is handed on: by the sweep's writer to whoever sends it.
#include <functional>
#include <string>

namespace eft::server {

// Takes a piece of a body, the whole content of the string; false when the reader is gone,
// which ends the writing. A sink may take the string's memory by swapping in another string,
// whose memory then makes the next piece: tens of megabytes then pass without a copy.
using PieceSink = std::function<bool(std::string& piece)>;

}  // namespace eft::server
