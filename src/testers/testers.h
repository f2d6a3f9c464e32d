#pragma once
// Testers: the process-wide tester catalogue. It maps every tester type name offered by the
// registered creators (lower-cased, 'A'-'Z' only) to the identifier of the creator that offers
// it, ordered by byte-wise comparison of the names; a later registration of a name replaces the
// earlier one. It makes a TesterProxy for a type name on request.
//
// The process-wide catalogue offers every tester creator found on the plug-in path when it is
// first used, without writing them to the settings; the application manager adds the creators
// registered in the settings store with Add.
//
// All operations are safe to call from any thread; plug-in code never runs under the
// catalogue's lock.

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ordalis/interfaces.h"

namespace ordalis {

class PluginHost;
class TesterProxy;

class Testers {
 public:
  // The process-wide catalogue; created on first use.
  static Testers& Instance();

  // An empty catalogue whose creators come from [host] (the process-wide host when null).
  explicit Testers(std::shared_ptr<PluginHost> host);
  Testers(const Testers&) = delete;
  Testers& operator=(const Testers&) = delete;

  // Offers the creator registered under [class_id]: each type name it offers is entered. True
  // when at least one name was entered; false when the creator cannot be obtained, is not
  // acceptable or offers no type.
  bool Add(const std::string& class_id);

  // Number of type names in the table (a creator with three types counts three times).
  std::size_t Count() const;

  // The creator of the [index]-th type name in table order, freshly obtained; null when
  // [index] is out of range or the creator cannot be obtained.
  std::shared_ptr<ITesterCreator> Creator(std::size_t index) const;

  // The table as (lower-cased type name, creator identifier) pairs, in table order.
  std::vector<std::pair<std::string, std::string>> Types() const;

  // Makes a tester of [type_name] (any letter case). [message] receives "Type '<name>' " followed
  // by "created successfully", "not found", or the reason of the failure; null on failure.
  std::shared_ptr<TesterProxy> Create(const std::string& type_name, std::string* message) const;

  // 'A'-'Z' lowered; every other byte unchanged.
  static std::string Lower(std::string text);

 private:
  std::shared_ptr<PluginHost> host_;
  mutable std::mutex mutex_;
  std::map<std::string, std::string> types_;  // lower-cased type name -> creator identifier
};

}  // namespace ordalis
