#pragma once
// Text in the batch queue's XML files. Every file stays well-formed whatever bytes a name or a
// comment carries: valid UTF-8 is written as it is, a byte that is not part of valid UTF-8 is
// written as the character of the same number, the characters XML reserves become entities, and
// the control characters XML 1.0 forbids are written visibly as "\xNN". Safe from any thread.

#include <string>

namespace ordalis::batch {

// Appends [text] as XML character data (also fit for an attribute value in double quotes).
void AppendXmlText(std::string& out, const std::string& text);
std::string XmlText(const std::string& text);

// Undoes the entities of XML character data: the five named ones and numeric references.
// Anything that is not a complete reference is kept as it stands.
std::string XmlUnescape(const std::string& text);

}  // namespace ordalis::batch
