#pragma once
// Files from src/resources, embedded into the library at build time.

#include <string_view>

namespace ordalis {

// The bytes of the embedded file [name] ("results.xsl"); empty when there is none.
std::string_view EmbeddedResource(std::string_view name);

}  // namespace ordalis
