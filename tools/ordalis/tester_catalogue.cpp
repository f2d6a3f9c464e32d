#include "tester_catalogue.h"

#include "platform/text.h"
#include "testers/tester_proxy.h"
#include "testers/testers.h"

namespace ordalis::cli {

namespace {

std::string Join(const TextArray& texts) {
  std::string joined;
  for (const std::string& text : texts) joined += (joined.empty() ? "" : ", ") + text;
  return joined;
}

std::unique_ptr<TypeDoc> Describe(const std::string& type) {
  std::string message;
  auto tester = Testers::Instance().Create(type, &message);
  if (!tester) return nullptr;
  auto doc = std::make_unique<TypeDoc>();
  doc->type = type;
  tester->get_Description(&doc->description);
  tester->ConstructorDocumentation(&doc->constructor, &doc->constructor_parameters);
  std::uint32_t count = 0;
  tester->get_ActionCount(&count);
  for (std::uint32_t i = 0; i < count; ++i) {
    ActionDoc action;
    if (!Succeeded(tester->get_Actions(i, &action.name))) continue;
    tester->ActionDocumentation(i, &action.description, &action.in_parameters, &action.out_parameters);
    doc->actions.push_back(std::move(action));
  }
  return doc;
}

}  // namespace

std::string ActionSignature(const ActionDoc& action) {
  std::string text = action.name + "(" + Join(action.in_parameters) + ")";
  if (!action.out_parameters.empty()) text += " -> " + Join(action.out_parameters);
  return text;
}

const std::vector<std::string>& TesterCatalogue::Types() {
  if (!listed_) {
    for (const auto& [type, creator] : Testers::Instance().Types()) types_.push_back(LowerAscii(type));
    listed_ = true;
  }
  return types_;
}

const TypeDoc* TesterCatalogue::Find(const std::string& type) {
  std::string key = LowerAscii(type);
  auto known = docs_.find(key);
  if (known != docs_.end()) return known->second.get();
  return docs_.emplace(key, Describe(key)).first->second.get();
}

}  // namespace ordalis::cli
