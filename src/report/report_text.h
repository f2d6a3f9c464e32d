#pragma once
// Text helpers shared by the report writers: results words, the display of times and values,
// escaping for HTML, JSON and XML, the repair of text that is not valid UTF-8, relative links
// and whole-file writes that never leave a half-written file behind.

#include <cstdint>
#include <string>
#include <string_view>

#include "ordalis/types.h"
#include "platform/output_file.h"

namespace ordalis::report {

// The result of a results word ("Passed", "Not Implemented", …). Any other word, including the
// "Unknown Result n" of codes outside 0–6, reads as TestError.
Result ResultFromWord(std::string_view word);
// "Passed", "Failed", … for a result code 0–6.
const char* ResultWordOf(Result result);
// The CSS class word of a result: "passed", "failed", "notimplemented", …
const char* ResultClass(Result result);
// True for the results that make a statement a failure in the report: Failed and Error.
inline bool IsFailure(Result result) { return result == TestFailed || result == TestError; }

// A time taken as a person reads it: "<1 ms", "12 ms", "1.234 s", "2 min 03.5 s". [seconds] is
// the document's text with three decimals, so sub-millisecond times are all "<1 ms".
std::string DurationText(double seconds);
// A double as the script language prints it ("%g": 2.5, 1e+06).
std::string NumberText(double value);

// How bytes that are not valid UTF-8 are read.
enum class SourceEncoding { kUtf8, kLatin1 };

// Appends [bytes] to [out] as valid UTF-8 text that XML 1.0 allows: valid UTF-8 is kept, each
// byte that is not part of valid UTF-8 (every byte ≥ 0x80 for Latin-1 sources) becomes the
// character of the same number, and control characters other than tab, line feed and carriage
// return are written as "\xNN". Returns how many bytes at the end of [bytes] were left unread
// because they may be the start of a character that continues in the next piece ([final] false).
std::size_t AppendRepaired(std::string& out, std::string_view bytes, SourceEncoding encoding,
                           bool final = true);
std::string Repaired(std::string_view bytes);

// Cuts [text] to at most [limit] bytes at a character boundary, adding "…" when it was cut.
void CutText(std::string& text, std::size_t limit);

// Escaping for HTML text and attribute values (& < > " '), by the one XML text rule otherwise.
void AppendHtml(std::string& out, std::string_view text);
std::string Html(std::string_view text);
// A JSON string literal that is also safe inside an HTML <script> element ("<" is \u003c).
void AppendJsonString(std::string& out, std::string_view text);
// XML text and attribute values, by the one rule of every XML file written (AppendXmlText).
void AppendXml(std::string& out, std::string_view text);

// The file name of a log file entry of a results document, which writes '#' as "%23".
std::string LogEntryFileName(std::string entry);

// The link from a page written to [page_path] to the file at [target_path]: a relative path
// when both sit on the same tree, percent-encoded for use in href.
std::string LinkFrom(const std::string& page_path, const std::string& target_path);

// A report, index or JUnit file written as an OutputFile (platform/output_file.h): a regular
// file is replaced atomically, a device or FIFO written through, a link followed. A file not
// committed leaves the old one. Errors carry the system's reason. Pages rebuilt from a results
// document (a report, an index) pass Sync::kNone.
class WholeFile {
 public:
  bool Open(const std::string& path, std::string* error, Sync sync = Sync::kToDisk) {
    return file_.Open(path, 0644, error, ReplacedMode::kKeep, sync);
  }
  void Write(std::string_view bytes) { file_.Write(bytes); }
  bool Commit(std::string* error) { return file_.Commit(error); }

 private:
  OutputFile file_;
};

// Writes [bytes] to [path] as a WholeFile.
bool WriteWholeFile(const std::string& path, std::string_view bytes, std::string* error,
                    Sync sync = Sync::kToDisk);

}  // namespace ordalis::report
