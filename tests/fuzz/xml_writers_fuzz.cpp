// Fuzzing harness for the XML the program writes from text it does not control: the input is
// cut into texts at each 0x1E byte, and the texts become the names, messages, file names, log
// lines and values of a run's JUnit document, a batch's JUnit document and a batch results file.
// Each document must be well-formed XML as libxml2 reads it, whatever bytes the texts hold.

#include <libxml/parser.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "batch/batch_results.h"
#include "batch/junit_writer.h"
#include "report/junit_writer.h"
#include "report/run_digest.h"

namespace {

// The texts of the input; the missing ones are empty.
std::vector<std::string> Texts(const std::uint8_t* data, std::size_t size, std::size_t count) {
  std::vector<std::string> texts(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0x1E) {
      texts.emplace_back();
    } else {
      texts.back() += static_cast<char>(data[i]);
    }
  }
  texts.resize(count);
  return texts;
}

void MustBeWellFormed(const std::string& document) {
  xmlDocPtr parsed = xmlReadMemory(document.data(), static_cast<int>(document.size()), "fuzz.xml", nullptr,
                                   XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE);
  if (parsed == nullptr) std::abort();
  xmlFreeDoc(parsed);
}

std::string RunJunit(const std::vector<std::string>& t) {
  using namespace ordalis::report;
  RunDigest digest;
  digest.heading.name = t[0];
  digest.heading.host_name = t[1];
  digest.heading.version_under_test = t[2];
  digest.script_file = t[3];
  digest.verdict = ordalis::TestFailed;
  RowDigest row;
  row.text = t[4];
  row.file = t[3];
  row.line = 2;
  row.overall = ordalis::TestFailed;
  row.has_failure = true;
  row.failing_statements = 3;
  row.first_failure.text = t[5];
  row.first_failure.type = t[6];
  row.first_failure.file = t[3];
  row.first_failure.values = t[7];
  row.first_failure.log_lines = {t[8], t[9]};
  digest.rows.push_back(row);
  row.overall = ordalis::TestError;
  digest.rows.push_back(row);
  return JunitDocument(digest, t[9]);
}

std::string BatchJunit(const std::vector<std::string>& t) {
  using namespace ordalis::batch;
  JUnitSuite suite{t[0], t[1], t[2], 1.5, {}};
  for (auto outcome : {JUnitCase::Outcome::kPassed, JUnitCase::Outcome::kFailed, JUnitCase::Outcome::kError,
                       JUnitCase::Outcome::kSkipped}) {
    suite.cases.push_back(JUnitCase{t[3], t[4], t[5], 7, 0.25, outcome, t[6], t[7]});
  }
  return JUnitXml({suite});
}

std::string BatchResults(const std::vector<std::string>& t) {
  using namespace ordalis::batch;
  BatchResultsHeader header{t[0], t[1], t[2], t[3], 0, 0, false};
  BatchResultRecord record{t[4], t[5], t[6], ordalis::BatchQueueItemFailed, 1, 1, 0, 2, std::string()};
  return BatchResultsXml(header, {record, record});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> texts = Texts(data, size, 10);
  MustBeWellFormed(RunJunit(texts));
  MustBeWellFormed(BatchJunit(texts));
  MustBeWellFormed(BatchResults(texts));
  return 0;
}
