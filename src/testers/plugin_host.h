#pragma once
// PluginHost: the in-process object host. It loads the plug-in modules found in a list of
// directories, each module once, calls their entry points, and keeps the map from creator
// identifier to the factory that makes the creator. Given an identifier it makes the creator.
//
// Every creator it hands out, and every tester or batch item such a creator makes, holds a
// keep-alive reference to the host, so no module is unloaded while an object it made is in use.
// A module that cannot be loaded, lacks the entry point, refuses the engine or throws while
// registering is reported through the log sink and skipped.
//
// All operations are safe to call from any thread.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ordalis/interfaces.h"
#include "ordalis/plugin.h"

namespace ordalis {

class PluginHost : public std::enable_shared_from_this<PluginHost> {
 public:
  using LogSink = std::function<void(const std::string& line)>;

  // The process-wide host over PluginPath(); created on first use.
  static std::shared_ptr<PluginHost> Instance();

  // The directories searched for modules, in order: those of ORDALIS_PLUGIN_PATH
  // (colon-separated), then the installed plug-in directory, then the build tree's.
  static std::vector<std::string> PluginPath();

  // Where the process-wide host, and hosts made without a sink of their own, write their lines;
  // standard error until set. Set it before the first use of Instance() to catch the lines of
  // the start-up scan. Safe to call from any thread.
  static void SetDefaultLogSink(LogSink log);

  // Makes a host and loads the modules of [directories]. Problems go to [log] (the default sink
  // when empty), one line each.
  static std::shared_ptr<PluginHost> Create(const std::vector<std::string>& directories,
                                            LogSink log = {});

  ~PluginHost();
  PluginHost(const PluginHost&) = delete;
  PluginHost& operator=(const PluginHost&) = delete;

  // Makes the creator registered under [identifier] (compared ignoring letter case). S_OK with
  // a null creator when no module registered the identifier or its factory made none; E_FAIL
  // when the factory threw (the reason is logged).
  Status CreateTesterCreator(const std::string& identifier, std::shared_ptr<ITesterCreator>* creator);
  Status CreateBatchQueueItemCreator(const std::string& identifier,
                                     std::shared_ptr<IBatchQueueItemCreator>* creator);

  // Registers a creator made in this process (built-in kinds, tests), as a module would; false
  // when the identifier is empty or already registered.
  bool AddTesterCreator(const std::string& identifier, OrdalisTesterCreatorFactory factory);
  bool AddBatchQueueItemCreator(const std::string& identifier,
                                OrdalisBatchQueueItemCreatorFactory factory);

  // Identifiers in registration order: modules in path order, then in-process registrations.
  std::vector<std::string> TesterCreatorIds() const;
  std::vector<std::string> BatchQueueItemCreatorIds() const;

  // The module file that registered [identifier], "(built-in)" for in-process registrations,
  // empty when unknown.
  std::string ModuleFile(const std::string& identifier) const;

  // The paths of the modules loaded, in load order.
  std::vector<std::string> Modules() const;

  // A reference that keeps this host and its modules loaded while it is held.
  std::shared_ptr<const void> KeepAlive() const { return shared_from_this(); }

 private:
  struct Module;
  struct Entry;
  class Loading;

  explicit PluginHost(LogSink log);
  void LoadDirectory(const std::string& directory);
  void LoadModule(const std::string& path);
  void Log(const std::string& line) const;
  const Entry* Find(const std::string& identifier, bool tester) const;  // with mutex_ held
  // Enters [entry]; false, with the reason in [problem], when its identifier is taken.
  bool Register(Entry entry, std::string* problem);  // with mutex_ held

  LogSink log_;
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<Module>> modules_;
  std::vector<Entry> entries_;
  std::vector<std::string> loaded_names_;  // file names already loaded; later ones are hidden
};

}  // namespace ordalis
