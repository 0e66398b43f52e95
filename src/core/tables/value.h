#pragma once
// The values a working-table field holds, and the field types.
#include <cstdint>
#include <string>
#include <variant>

#include "base/calendar.h"

namespace eft {

enum class FieldType { Int32, Int16, Single, Boolean, Timestamp, Text };

// A field value as the table hands it out: no value, or one value of a field type
// (16-bit fields come out as std::int32_t).
using Value = std::variant<std::monostate, std::int32_t, float, bool, Timestamp, std::string>;

inline bool hasValue(const Value& v) { return !std::holds_alternative<std::monostate>(v); }

const char* typeName(FieldType type);

}  // namespace eft
