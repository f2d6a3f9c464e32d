#pragma once
// The results index: DIR/index.html, one page listing every run whose results document sits in
// a results directory (script, date, verdict, counts, links to the report, the XML and the log),
// and every batch (with its report) and attempt of a batch entry that ran no script (with its
// log), newest first. A page a browser can open from disk, unlike a page that lists its own
// folder.

#include <string>

namespace ordalis::report {

// Writes [directory]/index.html. Each run is read from the summary its HTML report carries when
// the report is at least as new as the document, otherwise from the document itself. Runs of
// several processes may call this at once: the directory is locked while the page is made.
// False, with [error] saying why, when the directory cannot be read or the page written.
bool WriteResultsIndex(const std::string& directory, std::string* error);

// The index page's name inside a results directory.
inline constexpr const char* kIndexFile = "index.html";

}  // namespace ordalis::report
