#pragma once
// Status codes returned by every operation of the automation interfaces. The values are the
// classic 32-bit HRESULT codes, so texts that print a code in hexadecimal show the familiar
// numbers.

#include <cstdint>

namespace ordalis {

using Status = std::int32_t;

inline constexpr Status S_OK = 0;
inline constexpr Status S_FALSE = 1;
inline constexpr Status E_FAIL = static_cast<Status>(0x80004005u);
inline constexpr Status E_POINTER = static_cast<Status>(0x80004003u);
inline constexpr Status E_INVALIDARG = static_cast<Status>(0x80070057u);
inline constexpr Status E_OUTOFMEMORY = static_cast<Status>(0x8007000Eu);
inline constexpr Status E_NOINTERFACE = static_cast<Status>(0x80004002u);
inline constexpr Status E_NOTIMPL = static_cast<Status>(0x80004001u);
inline constexpr Status CLASS_E_CLASSNOTAVAILABLE = static_cast<Status>(0x80040111u);

// True for S_OK, S_FALSE and every other non-negative code.
constexpr bool Succeeded(Status status) { return status >= 0; }
constexpr bool Failed(Status status) { return status < 0; }

// Automation boolean: true has all bits set, false is 0. Where a value is read as a boolean,
// anything other than kVariantTrue reads as false unless an operation says otherwise.
using VariantBool = std::int16_t;
inline constexpr VariantBool kVariantTrue = -1;
inline constexpr VariantBool kVariantFalse = 0;

constexpr VariantBool ToVariantBool(bool value) { return value ? kVariantTrue : kVariantFalse; }

}  // namespace ordalis
