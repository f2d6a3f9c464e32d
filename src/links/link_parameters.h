#pragma once
// Reading link parameters: each kind accepts a few fixed shapes of integers and texts.

#include <cstddef>
#include <cstdint>

#include "ordalis/variant.h"

namespace ordalis::link_parameters {

inline bool IsInteger(const Variant& value) { return value.type() == VT_I4; }
inline bool IsText(const Variant& value) { return value.type() == VT_BSTR; }

// A TCP or UDP port: an integer from 0 to 65535.
inline bool IsPort(const Variant& value) {
  return IsInteger(value) && value.as_int() >= 0 && value.as_int() <= 65535;
}

}  // namespace ordalis::link_parameters
