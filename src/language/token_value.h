#pragma once
// The value the scanner hands to the parser with each token.

#include <cstdint>
#include <string_view>

namespace ordalis {

// Plain data, so the parser may copy it freely while its stack grows. [text] points into the
// analyser's store of token texts and lives as long as the parse.
struct TokenValue {
  std::int32_t integer;   // INTEGER, HEX, OCTAL, BOOL, RESULTVALUE; the quiet mark of a call
  std::uint32_t column;   // of the token's first byte, counted from 1 (in the padding)
  double number;          // DOUBLE
  std::string_view text;  // IDENTIFIER, STRING, COMMENT
};

}  // namespace ordalis
