#pragma once
// The one failure type of the control: table operations, the XML reader and value conversions
// throw it, and each handler's failure path catches it.
#include <stdexcept>
#include <string>

namespace eft {

class EftError : public std::runtime_error {
public:
    explicit EftError(const std::string& description) : std::runtime_error(description) {}
    const char* description() const noexcept { return what(); }
};

}  // namespace eft
