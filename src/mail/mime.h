#pragma once
// The text layout of a results mail on the wire: header values made safe, the date line, the
// plain-text body part and the head of each attached file's part. Pure functions, safe to call
// from any thread.

#include <ctime>
#include <string>
#include <string_view>

namespace ordalis {

// The boundary between the parts of every mail the client sends.
inline constexpr std::string_view kMailBoundary = "Marrowind Boundary";

// [text] for a header field or an SMTP command: every CR and LF becomes a space, so no value
// can start a header line or a command of its own.
std::string OneLine(std::string_view text);

// An address as written between "<" and ">": on one line, without surrounding blanks.
std::string WireAddress(std::string_view address);

// Header text: unchanged when it is plain ASCII; otherwise UTF-8 encoded words ("=?utf-8?B?…?=")
// folded onto continuation lines, so that mail readers show it as written.
std::string EncodeHeaderText(std::string_view text);

// A display name for an address header: encoded words when it holds bytes above 127, a quoted
// string when it holds characters that would split the address list, otherwise as written.
std::string HeaderDisplayName(std::string_view name);

// [local] as a mail date: "Thu, 03 Mar 2012 09:05:07 +0100" (English names, four-digit year,
// numeric zone, so that every reader places the moment correctly).
std::string FormatMailDate(const std::tm& local);

// The body as the first part of the message, ready for the DATA phase: line ends become CR LF,
// the text ends with CR LF, and every line that begins with "." has the dot doubled. A body with
// bytes above 127, lines longer than SMTP carries or the boundary text travels base64-encoded as
// UTF-8 text.
std::string BodyPart(std::string_view body);

// The head of an attached file's part, named after the last path component of [path], from the
// line end that closes the part before it; the file's content follows base64-encoded, and the
// next part's head or the closing boundary (each beginning with a line end) closes it.
std::string AttachmentPartHead(std::string_view path);

}  // namespace ordalis
