#pragma once
// The options that say where a run is kept in the results store and what it is labelled with,
// shared by the commands that run scripts.

#include <string>

#include "option_table.h"
#include "report/run_history.h"

namespace ordalis::cli {

constexpr const char* kLabelOption = "--label";
constexpr const char* kResultsDbOption = "--results-db";

// --label KEY=VALUE (repeatable) with [label_help], and --results-db STORE with [store_help].
Option LabelOption(const char* label_help);
Option ResultsDbOption(const char* store_help);

// Reads --label and --results-db into [context]. Returns what is wrong; empty when both are
// sound (a store location that can be parsed, every label KEY=VALUE).
std::string ReadHistoryOptions(const ParsedArguments& arguments, report::HistoryContext* context);

}  // namespace ordalis::cli
