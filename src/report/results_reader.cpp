#include "report/results_reader.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <cstring>

#include "report/report_text.h"

namespace ordalis::report {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

std::string Trimmed(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  std::size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

// Latin-1 documents (the original declaration) are read byte for byte; every other document is
// read as UTF-8 with the bytes that are not valid UTF-8 read as Latin-1.
SourceEncoding DeclaredEncoding(std::string_view start) {
  std::size_t end = start.find("?>");
  if (start.substr(0, 5) != "<?xml" || end == std::string_view::npos) return SourceEncoding::kUtf8;
  std::string declaration(start.substr(0, end));
  std::transform(declaration.begin(), declaration.end(), declaration.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const char* name : {"iso-8859-1", "iso8859-1", "latin1", "latin-1", "windows-1252", "cp1252"}) {
    if (declaration.find(std::string("\"") + name + "\"") != std::string::npos ||
        declaration.find(std::string("'") + name + "'") != std::string::npos) {
      return SourceEncoding::kLatin1;
    }
  }
  return SourceEncoding::kUtf8;
}

// The file's bytes, repaired into well-formed UTF-8 as they are read.
class RepairingInput {
 public:
  explicit RepairingInput(int fd) : fd_(fd) {}
  ~RepairingInput() {
    if (fd_ >= 0) ::close(fd_);
  }
  RepairingInput(const RepairingInput&) = delete;
  RepairingInput& operator=(const RepairingInput&) = delete;

  int Read(char* buffer, int length) {
    while (position_ == text_.size() && !ended_) {
      if (!Fill()) return -1;
    }
    std::size_t n = std::min(static_cast<std::size_t>(length), text_.size() - position_);
    std::memcpy(buffer, text_.data() + position_, n);
    position_ += n;
    return static_cast<int>(n);
  }
  const std::string& failure() const { return failure_; }

 private:
  bool Fill() {
    std::string raw = std::move(carry_);
    std::size_t kept = raw.size();
    raw.resize(kept + kChunk);
    ssize_t n;
    do {
      n = ::read(fd_, raw.data() + kept, kChunk);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
      failure_ = std::strerror(errno);
      return false;
    }
    raw.resize(kept + static_cast<std::size_t>(n));
    ended_ = n == 0;
    if (!sniffed_) {
      encoding_ = DeclaredEncoding(raw);
      sniffed_ = true;
    }
    text_.clear();
    position_ = 0;
    std::size_t left = AppendRepaired(text_, raw, encoding_, ended_);
    carry_ = raw.substr(raw.size() - left);
    return true;
  }

  int fd_;
  std::string text_;
  std::size_t position_ = 0;
  std::string carry_;
  bool ended_ = false;
  bool sniffed_ = false;
  SourceEncoding encoding_ = SourceEncoding::kUtf8;
  std::string failure_;
};

enum class Kind {
  kOther, kDocument, kHeadField, kLogfiles, kLogfile, kNode, kNodeType, kNodeText, kRun,
  kRunField, kOverall, kValues, kItem, kItemType, kItemValue, kMeasurements, kMeasurement,
  kMeasurementField
};

class Parser {
 public:
  Parser(const std::vector<ResultsVisitor*>& visitors, const RunAnnotations* notes)
      : visitors_(visitors), notes_(notes) {}

  void set_context(xmlParserCtxtPtr context) { context_ = context; }
  const std::string& error() const { return error_; }

  // [count] is the run element's count attribute: how many Passed runs a compact document
  // folded into it (1 when absent).
  void Start(const std::string& name, std::uint32_t count = 1) {
    Kind parent = stack_.empty() ? Kind::kOther : stack_.back();
    Kind kind = Classify(parent, name);
    if (stack_.empty() && kind != Kind::kDocument) {
      Stop("the document is not a results document (its root element is <" + name +
           ">, not <odl_script_result>)");
      return;
    }
    stack_.push_back(kind);
    switch (kind) {
      case Kind::kNode: StartNode(); break;
      case Kind::kRun:
        EnsureHead();
        run_ = RunEntry();
        run_.count = count;
        run_values_ = 0;
        break;
      case Kind::kValues: values_.push_back(OpenValues()); break;
      case Kind::kItem: StartItem(); break;
      case Kind::kMeasurement: StartMeasurement(); break;
      case Kind::kOverall: EnsureHead(); [[fallthrough]];
      case Kind::kHeadField: case Kind::kLogfile: case Kind::kNodeType: case Kind::kNodeText:
      case Kind::kRunField: case Kind::kItemType: case Kind::kItemValue: case Kind::kMeasurementField:
        text_.clear();
        capturing_ = true;
        break;
      default: break;
    }
  }

  void Characters(const char* bytes, int length) {
    if (!capturing_ || text_.size() > kMaxText) return;
    text_.append(bytes, std::min(static_cast<std::size_t>(length), kMaxText + 1 - text_.size()));
  }

  void End(const std::string& name) {
    if (stack_.empty()) return;
    Kind kind = stack_.back();
    stack_.pop_back();
    capturing_ = false;
    CutText(text_, kMaxText);
    switch (kind) {
      case Kind::kHeadField: HeadField(name); break;
      case Kind::kLogfile: heading_.log_files.push_back(text_); break;
      case Kind::kNodeType: head_.type = Trimmed(text_); break;
      case Kind::kNodeText: head_.text = text_; break;
      case Kind::kRunField: RunField(name); break;
      case Kind::kRun: EachVisitor([this](ResultsVisitor& v) { v.OnRun(run_); }); break;
      case Kind::kOverall: {
        Result overall = ResultFromWord(Trimmed(text_));
        EachVisitor([overall](ResultsVisitor& v) { v.OnNodeResult(overall); });
        break;
      }
      case Kind::kNode:
        EnsureHead();
        --node_depth_;
        EachVisitor([](ResultsVisitor& v) { v.OnNodeEnd(); });
        break;
      case Kind::kValues: values_.pop_back(); break;
      case Kind::kItem: items_.pop_back(); break;
      case Kind::kItemType:
        if (!items_.empty() && items_.back() != nullptr) items_.back()->type = ValueTypeOf(Trimmed(text_));
        break;
      case Kind::kItemValue:
        if (!items_.empty() && items_.back() != nullptr) items_.back()->text = text_;
        break;
      case Kind::kMeasurementField: MeasurementField(name); break;
      case Kind::kMeasurement: EndMeasurement(); break;
      default: break;
    }
  }

  void Finish() { EnsureHeading(); }

  void Error(const std::string& message) {
    if (error_.empty()) error_ = message;
  }

  // Ends the reading at once, the document refused with [message].
  void Refuse(const std::string& message) { Stop(message); }

 private:
  struct ValuesTarget {
    std::vector<ValueEntry>* list = nullptr;
    int depth = 0;
  };

  Kind Classify(Kind parent, const std::string& name) const {
    switch (parent) {
      case Kind::kOther:
        if (stack_.empty() && name == "odl_script_result") return Kind::kDocument;
        return Kind::kOther;
      case Kind::kDocument:
        if (name == "node") return Kind::kNode;
        if (name == "logfiles") return Kind::kLogfiles;
        return Kind::kHeadField;
      case Kind::kLogfiles: return name == "logfile" ? Kind::kLogfile : Kind::kOther;
      case Kind::kNode:
        if (name == "node") return Kind::kNode;
        if (name == "type") return Kind::kNodeType;
        if (name == "text") return Kind::kNodeText;
        if (name == "run") return Kind::kRun;
        if (name == "overall_result") return Kind::kOverall;
        return Kind::kOther;
      case Kind::kRun:
        if (name == "values") return Kind::kValues;
        if (name == "measurements") return Kind::kMeasurements;
        return Kind::kRunField;
      case Kind::kMeasurements: return name == "measurement" ? Kind::kMeasurement : Kind::kOther;
      case Kind::kMeasurement: return Kind::kMeasurementField;
      case Kind::kValues: return name == "item" ? Kind::kItem : Kind::kOther;
      case Kind::kItem:
        if (name == "type") return Kind::kItemType;
        if (name == "value") return Kind::kItemValue;
        if (name == "values") return Kind::kValues;
        return Kind::kOther;
      default: return Kind::kOther;
    }
  }

  void HeadField(const std::string& name) {
    if (name == "name") heading_.name = text_;
    else if (name == "versionundertest") heading_.version_under_test = text_;
    else if (name == "host_name") heading_.host_name = text_;
    else if (name == "date") heading_.date = Trimmed(text_);
    else if (name == "time") heading_.time = Trimmed(text_);
    else if (name == "version") heading_.version = Trimmed(text_);
  }

  void RunField(const std::string& name) {
    std::string value = Trimmed(text_);
    if (name == "iteration") run_.iteration = static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
    else if (name == "result") run_.result = ResultFromWord(value);
    else if (name == "timetakensec") run_.time_taken = std::strtod(value.c_str(), nullptr);
    else if (name == "date") run_.date = value;
    else if (name == "time") run_.time = value;
  }

  static ValueType ValueTypeOf(const std::string& word) {
    if (word == "Integer") return ValueType::kInteger;
    if (word == "Double") return ValueType::kDouble;
    if (word == "String") return ValueType::kString;
    if (word == "Boolean") return ValueType::kBoolean;
    if (word == "Array") return ValueType::kArray;
    return ValueType::kUnknown;
  }

  // A measurement is read into [measurement_] and kept when it ends, while the run has room.
  void StartMeasurement() {
    measurement_ = Measurement();
    measurement_type_.clear();
    measurement_low_.clear();
    measurement_high_.clear();
  }

  void MeasurementField(const std::string& name) {
    if (name == "name") measurement_.name = text_;
    else if (name == "type") measurement_type_ = Trimmed(text_);
    else if (name == "value") measurement_.text = text_;
    else if (name == "unit") measurement_.unit = Trimmed(text_);
    else if (name == "low") measurement_low_ = Trimmed(text_);
    else if (name == "high") measurement_high_ = Trimmed(text_);
    else if (name == "comparison" && !ComparisonFromWord(Trimmed(text_), &measurement_.comparison))
      measurement_.comparison = Comparison::kLogOnly;
    else if (name == "result") measurement_.result = ResultFromWord(Trimmed(text_));
  }

  // A limit as written; nothing when it is absent or not a number.
  static std::optional<double> LimitOf(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return std::nullopt;
    return value;
  }

  void EndMeasurement() {
    if (run_.measurements.size() >= kMaxRunMeasurements) {
      run_.measurements_cut = true;
      return;
    }
    // A type word this reader does not know is read as text: the value is kept as written.
    if (!MeasuredKindFromWord(measurement_type_, &measurement_.kind)) measurement_.kind = MeasuredKind::kText;
    const std::string value = Trimmed(measurement_.text);
    if (measurement_.kind == MeasuredKind::kNumber) {
      std::optional<double> number = LimitOf(value);
      measurement_.number = number ? *number : std::nan("");
    } else if (measurement_.kind == MeasuredKind::kBoolean) {
      measurement_.number = value == "true" || value == "1" ? 1.0 : 0.0;
    }
    measurement_.low = LimitOf(measurement_low_);
    measurement_.high = LimitOf(measurement_high_);
    run_.measurements.push_back(std::move(measurement_));
  }

  // <values> opens a list: the run's own, or the elements of the array item around it.
  ValuesTarget OpenValues() {
    if (values_.empty()) return {&run_.values, 0};
    ValueEntry* item = items_.empty() ? nullptr : items_.back();
    if (item == nullptr || values_.back().depth >= kMaxValueDepth) return {nullptr, 0};
    return {&item->elements, values_.back().depth + 1};
  }

  void StartItem() {
    ValuesTarget target = values_.empty() ? ValuesTarget{nullptr, 0} : values_.back();
    if (target.list == nullptr || run_values_ >= kMaxRunValues) {
      if (target.list != nullptr || run_values_ >= kMaxRunValues) run_.values_cut = true;
      items_.push_back(nullptr);
      return;
    }
    ++run_values_;
    target.list->emplace_back();
    items_.push_back(&target.list->back());
  }

  void StartNode() {
    EnsureHead();
    EnsureHeading();
    if (++node_depth_ > kMaxNodeDepth) {
      Stop("nodes are nested deeper than " + std::to_string(kMaxNodeDepth) + " levels");
      return;
    }
    head_ = NodeHead();
    head_.depth = node_depth_;
    head_pending_ = true;
  }

  // Delivers the head of the node being read once its type and text are known.
  void EnsureHead() {
    if (!head_pending_) return;
    head_pending_ = false;
    head_.index = node_count_++;
    if (notes_ != nullptr) {
      if (head_.index < notes_->nodes.size() && head_.type == notes_->nodes[head_.index].type) {
        head_.note = &notes_->nodes[head_.index];
        std::uint32_t file = head_.note->file;
        head_.file = file < notes_->files.size() ? &notes_->files[file] : nullptr;
      } else {
        notes_ = nullptr;  // the annotations are of another tree: use none from here on
      }
    }
    EachVisitor([this](ResultsVisitor& v) { v.OnNodeStart(head_); });
  }

  void EnsureHeading() {
    if (heading_sent_) return;
    heading_sent_ = true;
    EachVisitor([this](ResultsVisitor& v) { v.OnHeading(heading_); });
  }

  template <typename Call>
  void EachVisitor(Call call) {
    for (ResultsVisitor* visitor : visitors_) call(*visitor);
  }

  void Stop(const std::string& message) {
    Error(message);
    if (context_ != nullptr) xmlStopParser(context_);
  }

  const std::vector<ResultsVisitor*>& visitors_;
  const RunAnnotations* notes_;
  xmlParserCtxtPtr context_ = nullptr;
  std::vector<Kind> stack_;
  std::string text_;
  bool capturing_ = false;
  ResultsHeading heading_;
  bool heading_sent_ = false;
  NodeHead head_;
  bool head_pending_ = false;
  std::size_t node_count_ = 0;
  int node_depth_ = 0;
  RunEntry run_;
  std::size_t run_values_ = 0;
  std::vector<ValuesTarget> values_;
  std::vector<ValueEntry*> items_;
  Measurement measurement_;
  std::string measurement_type_;
  std::string measurement_low_;
  std::string measurement_high_;
  std::string error_;
};

Parser& ParserOf(void* context) {
  return *static_cast<Parser*>(static_cast<xmlParserCtxtPtr>(context)->_private);
}

// The count attribute among [attributes] (five pointers each: name, prefix, URI, value, end);
// 1 when absent or not a positive number.
std::uint32_t CountAttribute(int number, const xmlChar** attributes) {
  for (int i = 0; i < number && attributes != nullptr; ++i) {
    const xmlChar** attribute = attributes + 5 * i;
    if (std::string_view(reinterpret_cast<const char*>(attribute[0])) != "count") continue;
    std::string value(reinterpret_cast<const char*>(attribute[3]), static_cast<std::size_t>(attribute[4] - attribute[3]));
    unsigned long count = std::strtoul(value.c_str(), nullptr, 10);
    return count > 0 && count <= UINT32_MAX ? static_cast<std::uint32_t>(count) : 1;
  }
  return 1;
}

void OnStart(void* context, const xmlChar* name, const xmlChar*, const xmlChar*, int, const xmlChar**,
             int attribute_count, int, const xmlChar** attributes) {
  ParserOf(context).Start(reinterpret_cast<const char*>(name), CountAttribute(attribute_count, attributes));
}

void OnEnd(void* context, const xmlChar* name, const xmlChar*, const xmlChar*) {
  ParserOf(context).End(reinterpret_cast<const char*>(name));
}

void OnCharacters(void* context, const xmlChar* bytes, int length) {
  ParserOf(context).Characters(reinterpret_cast<const char*>(bytes), length);
}

void OnError(void* context, xmlErrorPtr error) {
  if (error == nullptr || error->level < XML_ERR_ERROR || context == nullptr) return;
  auto* parser_context = static_cast<xmlParserCtxtPtr>(context);
  if (parser_context->_private == nullptr) return;
  std::string message = error->message != nullptr ? error->message : "unreadable XML";
  while (!message.empty() && message.back() == '\n') message.pop_back();
  ParserOf(context).Error("line " + std::to_string(error->line) + ": " + message);
}

// A results document never has a document type declaration: one in a file is refused before
// its internal subset is read, so no entity it declares is ever expanded (nested entities
// would otherwise grow a few hundred bytes into gigabytes of text).
void OnDocumentType(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
  ParserOf(context).Refuse("a results document has no document type declaration (<!DOCTYPE>)");
}

int ReadInput(void* input, char* buffer, int length) {
  return static_cast<RepairingInput*>(input)->Read(buffer, length);
}

int CloseInput(void*) { return 0; }

}  // namespace

bool ReadResults(const std::string& path, const std::vector<ResultsVisitor*>& visitors,
                 const RunAnnotations* notes, std::string* error) {
  static const bool initialised = (xmlInitParser(), true);
  (void)initialised;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  RepairingInput input(fd);
  Parser parser(visitors, notes);
  xmlSAXHandler handler;
  std::memset(&handler, 0, sizeof handler);
  handler.initialized = XML_SAX2_MAGIC;
  handler.startElementNs = OnStart;
  handler.endElementNs = OnEnd;
  handler.characters = OnCharacters;
  handler.cdataBlock = OnCharacters;
  handler.serror = OnError;
  handler.internalSubset = OnDocumentType;
  // The handler's user data is the parser context itself, so errors and events reach the parser
  // through its _private pointer.
  xmlParserCtxtPtr context = xmlCreateIOParserCtxt(&handler, nullptr, ReadInput, CloseInput, &input,
                                                   XML_CHAR_ENCODING_UTF8);
  if (context == nullptr) {
    if (error) *error = "out of memory";
    return false;
  }
  context->_private = &parser;
  context->userData = context;
  parser.set_context(context);
  xmlCtxtUseOptions(context, XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_IGNORE_ENC | XML_PARSE_NOWARNING);
  xmlParseDocument(context);
  bool well_formed = context->wellFormed != 0;
  // Entity declarations that the parser met after an error (when it no longer calls this
  // reader) are kept in a document of its own making, which freeing the context leaves alone.
  if (context->myDoc != nullptr) {
    xmlFreeDoc(context->myDoc);
    context->myDoc = nullptr;
  }
  xmlFreeParserCtxt(context);
  if (!input.failure().empty()) parser.Error(input.failure());
  if (parser.error().empty() && well_formed) {
    parser.Finish();
    return true;
  }
  if (error) *error = parser.error().empty() ? std::string("not well-formed XML") : parser.error();
  return false;
}

}  // namespace ordalis::report
