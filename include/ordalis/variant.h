#pragma once
// Variant: the value that crosses the automation boundary (tester parameters and returned
// values, script variables read by clients, plug-in results). It carries a type number with the
// classic automation values, so texts such as "Unknown Format %d" print the familiar numbers,
// and it can hold a value of any other type number that a plug-in sends.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ordalis/api.h"
#include "ordalis/status.h"

namespace ordalis {

// Base of every object that crosses the automation boundary. "Query interface" is
// std::dynamic_pointer_cast; identity is the address of the object.
class ORDALIS_API IUnknown {
 public:
  virtual ~IUnknown() = default;
};

// Type numbers of the classic automation variant.
enum VarType : std::uint16_t {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_ARRAY = 0x2000,
};

inline constexpr std::uint16_t kVariantArrayType = VT_ARRAY | VT_VARIANT;  // 0x200C

class Variant;

// A one-dimensional array of variants, lower bound 0. An absent array is a null
// VariantArrayPtr.
using VariantArray = std::vector<Variant>;
using VariantArrayPtr = std::shared_ptr<VariantArray>;

class Variant {
 public:
  Variant() = default;

  static Variant Int(std::int32_t value) { Variant v(VT_I4); v.int_ = value; return v; }
  static Variant Double(double value) { Variant v(VT_R8); v.double_ = value; return v; }
  static Variant String(std::string value) { Variant v(VT_BSTR); v.text_ = std::move(value); return v; }
  static Variant Bool(bool value) { Variant v(VT_BOOL); v.int_ = value ? kVariantTrue : kVariantFalse; return v; }
  // A boolean with the exact 16-bit pattern given; only kVariantTrue reads as true.
  static Variant BoolBits(VariantBool bits) { Variant v(VT_BOOL); v.int_ = bits; return v; }
  static Variant Dispatch(std::shared_ptr<IUnknown> object) { Variant v(VT_DISPATCH); v.object_ = std::move(object); return v; }
  static Variant Unknown(std::shared_ptr<IUnknown> object) { Variant v(VT_UNKNOWN); v.object_ = std::move(object); return v; }
  static Variant Array(VariantArrayPtr elements) { Variant v(kVariantArrayType); v.array_ = std::move(elements); return v; }
  static Variant Array(VariantArray elements) { return Array(std::make_shared<VariantArray>(std::move(elements))); }
  // A value of any other type number, carrying a 64-bit integer payload.
  static Variant Other(std::uint16_t type, std::int64_t payload = 0) { Variant v(type); v.int_ = payload; return v; }

  std::uint16_t type() const { return type_; }
  bool empty() const { return type_ == VT_EMPTY; }
  bool is_array() const { return type_ == kVariantArrayType; }
  bool is_object() const { return type_ == VT_DISPATCH || type_ == VT_UNKNOWN; }

  std::int32_t as_int() const { return static_cast<std::int32_t>(int_); }
  std::int64_t as_int64() const { return int_; }
  double as_double() const { return double_; }
  const std::string& as_string() const { return text_; }
  VariantBool as_bool_bits() const { return static_cast<VariantBool>(int_); }
  // True only for the automation true (all bits set).
  bool as_bool() const { return as_bool_bits() == kVariantTrue; }
  const std::shared_ptr<IUnknown>& as_object() const { return object_; }
  // The nested array of an array variant; may be null for an absent array.
  const VariantArrayPtr& as_array() const { return array_; }

  // Makes the variant empty, releasing any object or array it held.
  void Clear() { *this = Variant(); }

 private:
  explicit Variant(std::uint16_t type) : type_(type) {}

  std::uint16_t type_ = VT_EMPTY;
  std::int64_t int_ = 0;
  double double_ = 0.0;
  std::string text_;
  std::shared_ptr<IUnknown> object_;
  VariantArrayPtr array_;
};

}  // namespace ordalis
