// The results-store options of the commands that run scripts.

#include "history_options.h"

#include "history/store_location.h"

namespace ordalis::cli {

Option LabelOption(const char* label_help) {
  return Option{kLabelOption, 0, "KEY=VALUE", label_help, true};
}

Option ResultsDbOption(const char* store_help) { return Option{kResultsDbOption, 0, "STORE", store_help}; }

std::string ReadHistoryOptions(const ParsedArguments& arguments, report::HistoryContext* context) {
  for (const std::string& text : arguments.Values(kLabelOption)) {
    std::pair<std::string, std::string> label;
    if (!report::ParseLabel(text, &label)) return "--label needs KEY=VALUE, got '" + text + "'";
    context->labels.push_back(std::move(label));
  }
  if (!arguments.Has(kResultsDbOption)) return {};
  context->store = arguments.Value(kResultsDbOption);
  history::StoreLocation location;
  std::string problem;
  if (!history::ParseStoreLocation(context->store, ".", &location, &problem)) return "--results-db: " + problem;
  return {};
}

}  // namespace ordalis::cli
