#pragma once
// Text in every XML file the system writes (results documents, batch files, reports). The one
// rule that keeps a file well-formed whatever bytes a script, tester or instrument produced:
// valid UTF-8 is written as it is, a byte that is not part of valid UTF-8 is written as the
// character of the same number (as Latin-1 reads it), the characters XML reserves become
// entities, and the control characters XML 1.0 forbids are written visibly as "\xNN" (U+FFFE and
// U+FFFF as "\uFFFE", "\uFFFF"). Streaming writers append through AppendXmlText too, so every
// writer follows the same rule. Safe from any thread.

#include <string>

namespace ordalis {

// Appends [text] as XML character data (also fit for an attribute value in double quotes).
void AppendXmlText(std::string& out, const std::string& text);
std::string XmlText(const std::string& text);

// Undoes the entities of XML character data: the five named ones and numeric references.
// Anything that is not a complete reference is kept as it stands.
std::string XmlUnescape(const std::string& text);

}  // namespace ordalis
