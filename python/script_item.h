#pragma once
// ScriptItem: one item of a script's tree, as Python sees it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ordalis/component.h"
#include "ordalis/interfaces.h"
#include "ordalis/types.h"

#include "support.h"

namespace py = pybind11;

namespace ordalis::python {

// One item of a script's tree, or a free-standing item made by ScriptItem().
class PyScriptItem {
 public:
  explicit PyScriptItem(std::shared_ptr<IScriptItem> item) : item_(std::move(item)) {
    if (!item_) throw StatusError(E_POINTER, "no script item");
  }
  // A new free-standing item, as a client makes one by its class name.
  static PyScriptItem Create() {
    std::shared_ptr<IUnknown> object;
    Check(CreateInstance("Ordalis.ScriptItem", &object), "CreateInstance");
    return PyScriptItem(std::dynamic_pointer_cast<IScriptItem>(object));
  }
  std::string text() const { return Get(&IScriptItem::get_Text, "Text"); }
  std::string script_text() const { return Get(&IScriptItem::get_ScriptText, "ScriptText"); }
  std::string file_name() const { return Get(&IScriptItem::get_FileName, "FileName"); }
  std::string type() const {
    ItemType type = errorItem;
    Check(item_->get_Type(&type), "Type");
    return ItemTypeName(type);
  }
  std::uint32_t line() const { return Get(&IScriptItem::get_lineNumber, "lineNumber"); }
  std::uint32_t id() const { return Get(&IScriptItem::get_Id, "Id"); }
  int result() const {
    Result result = TestNotRun;
    Check(item_->get_CurrentResult(&result), "CurrentResult");
    return result;
  }
  std::uint32_t result_count(int result) const {
    std::uint32_t count = 0;
    Check(item_->get_ResultCount(static_cast<Result>(result), &count), "ResultCount");
    return count;
  }
  std::uint32_t child_count() const { return Get(&IScriptItem::get_ChildCount, "ChildCount"); }
  PyScriptItem child(std::uint32_t index) const {
    std::shared_ptr<IScriptItem> child;
    Check(item_->get_Children(index, &child), "Children");
    return PyScriptItem(child);
  }
  std::vector<PyScriptItem> children() const {
    std::uint32_t count = child_count();
    std::vector<PyScriptItem> list;
    for (std::uint32_t i = 0; i < count; ++i) list.push_back(child(i));
    return list;
  }
  std::optional<PyScriptItem> parent() const {
    std::shared_ptr<IScriptItem> parent;
    if (item_->get_Parent(&parent) < 0 || !parent) return std::nullopt;
    return PyScriptItem(parent);
  }
  void ResetResults() { Check(item_->ResetResults(), "ResetResults"); }
  std::uint32_t number_of_results() const {
    return Get(&IScriptItem::get_NumberOfResults, "NumberOfResults");
  }
  void SetResultStatus(int result) { Check(item_->SetResultStatus(static_cast<Result>(result)), "SetResultStatus"); }
  void AddResult(int result, std::uint32_t iteration, double time_taken, VariantArrayPtr values) {
    Check(item_->AddResult(static_cast<Result>(result), iteration, time_taken, std::move(values)), "AddResult");
  }
  // One result record: (result, iteration, time, time taken, values).
  struct Record {
    int result = TestNotRun;
    std::uint32_t iteration = 0;
    std::int64_t time = 0;
    double time_taken = 0;
    VariantArrayPtr values;
  };
  Record Results(std::uint32_t index) const {
    Result result = TestNotRun;
    Record record;
    Check(item_->Results(index, &result, &record.iteration, &record.time, &record.time_taken, &record.values),
          "Results");
    record.result = result;
    return record;
  }
  bool breakpoint() const {
    return OutBool("BreakpointSet", [&](VariantBool* v) { return item_->get_BreakpointSet(v); });
  }
  void set_breakpoint(bool value) { Check(item_->put_BreakpointSet(ToVariantBool(value)), "BreakpointSet"); }
  void ClearAllBreakpoints() { Check(item_->ClearAllBreakpoints(), "ClearAllBreakpoints"); }
  std::optional<PyScriptItem> current_parent() const {
    std::shared_ptr<IScriptItem> parent;
    Check(item_->get_CurrentParent(&parent), "CurrentParent");
    if (!parent) return std::nullopt;
    return PyScriptItem(parent);
  }
  void set_current_parent(std::optional<PyScriptItem> parent) {
    Check(item_->put_CurrentParent(parent ? parent->item_ : nullptr), "CurrentParent");
  }
  // Two views are equal when they show the same item.
  bool operator==(const PyScriptItem& other) const { return item_ == other.item_; }
  std::size_t hash() const { return std::hash<const void*>()(item_.get()); }

 private:
  template <typename T>
  T Get(Status (IScriptItem::*getter)(T*), const char* name) const {
    T value{};
    Check((item_.get()->*getter)(&value), name);
    return value;
  }
  std::shared_ptr<IScriptItem> item_;
};

}  // namespace ordalis::python
