#include "testers/plugin_host.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <utility>

namespace ordalis {

namespace {

#ifndef ORDALIS_INSTALL_PLUGIN_DIR
#define ORDALIS_INSTALL_PLUGIN_DIR "/usr/local/lib/ordalis/plugins"
#endif
#ifndef ORDALIS_BUILD_PLUGIN_DIR
#define ORDALIS_BUILD_PLUGIN_DIR ""
#endif

constexpr const char* kBuiltIn = "(built-in)";

std::mutex default_sink_mutex;
PluginHost::LogSink& DefaultSink() {
  static PluginHost::LogSink sink;
  return sink;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string BaseName(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Gives [object] a control block of its own that also holds [keep_alive]: the object is
// released first, the keep-alive reference after it.
template <typename T>
std::shared_ptr<T> WithKeepAlive(std::shared_ptr<T> object, std::shared_ptr<const void> keep_alive) {
  if (!object) return nullptr;
  struct Holder {
    std::shared_ptr<T> object;
    std::shared_ptr<const void> keep_alive;
    void operator()(T*) { object.reset(); }
  };
  T* raw = object.get();
  return std::shared_ptr<T>(raw, Holder{std::move(object), std::move(keep_alive)});
}

// The creators handed out by the host: they forward every call to the module's creator and
// give every object it makes the host's keep-alive reference. A call that throws fails with
// E_FAIL instead of unwinding into the engine.
Status CreateTesterThrough(ITesterCreator& inner, const std::shared_ptr<const void>& keep_alive,
                           std::uint32_t tester_number, std::shared_ptr<ITester>* tester) {
  if (!tester) return E_POINTER;
  try {
    std::shared_ptr<ITester> made;
    Status status = inner.create(tester_number, &made);
    *tester = WithKeepAlive(std::move(made), keep_alive);
    return status;
  } catch (...) {
    return E_FAIL;
  }
}

class HostedTesterCreator : public ITesterCreator {
 public:
  HostedTesterCreator(std::shared_ptr<ITesterCreator> inner, std::shared_ptr<const void> keep_alive)
      : keep_alive_(std::move(keep_alive)), inner_(std::move(inner)) {}
  Status get_NumberOfTypes(std::uint32_t* count) override {
    try {
      return inner_->get_NumberOfTypes(count);
    } catch (...) {
      return E_FAIL;
    }
  }
  Status create(std::uint32_t tester_number, std::shared_ptr<ITester>* tester) override {
    return CreateTesterThrough(*inner_, keep_alive_, tester_number, tester);
  }

 private:
  // The keep-alive is declared first so it is destroyed last: the module's object is released
  // while its module is still loaded.
  std::shared_ptr<const void> keep_alive_;
  std::shared_ptr<ITesterCreator> inner_;
};

class HostedTesterCreator1 : public ITesterCreator1 {
 public:
  HostedTesterCreator1(std::shared_ptr<ITesterCreator1> inner, std::shared_ptr<const void> keep_alive)
      : keep_alive_(std::move(keep_alive)), inner_(std::move(inner)) {}
  Status get_NumberOfTypes(std::uint32_t* count) override {
    try {
      return inner_->get_NumberOfTypes(count);
    } catch (...) {
      return E_FAIL;
    }
  }
  Status create(std::uint32_t tester_number, std::shared_ptr<ITester>* tester) override {
    return CreateTesterThrough(*inner_, keep_alive_, tester_number, tester);
  }
  Status get_Version(std::string* version) override {
    try {
      return inner_->get_Version(version);
    } catch (...) {
      return E_FAIL;
    }
  }

 private:
  std::shared_ptr<const void> keep_alive_;  // first, so destroyed after inner_
  std::shared_ptr<ITesterCreator1> inner_;
};

class HostedBatchQueueItemCreator : public IBatchQueueItemCreator {
 public:
  HostedBatchQueueItemCreator(std::shared_ptr<IBatchQueueItemCreator> inner,
                              std::shared_ptr<const void> keep_alive)
      : keep_alive_(std::move(keep_alive)), inner_(std::move(inner)) {}
  Status get_Version(std::string* version) override {
    try {
      return inner_->get_Version(version);
    } catch (...) {
      return E_FAIL;
    }
  }
  Status create(std::uint32_t index, std::shared_ptr<IBatchQueueItem>* item) override {
    if (!item) return E_POINTER;
    try {
      std::shared_ptr<IBatchQueueItem> made;
      Status status = inner_->create(index, &made);
      *item = WithKeepAlive(std::move(made), keep_alive_);
      return status;
    } catch (...) {
      return E_FAIL;
    }
  }
  Status get_NumberOfFileTypes(std::uint32_t* count) override {
    try {
      return inner_->get_NumberOfFileTypes(count);
    } catch (...) {
      return E_FAIL;
    }
  }
  Status get_FileType(std::uint32_t index, std::string* file_type) override {
    try {
      return inner_->get_FileType(index, file_type);
    } catch (...) {
      return E_FAIL;
    }
  }

 private:
  std::shared_ptr<const void> keep_alive_;  // first, so destroyed after inner_
  std::shared_ptr<IBatchQueueItemCreator> inner_;
};

}  // namespace

// A loaded module: the handle is closed when the host goes.
struct PluginHost::Module {
  std::string path;
  void* handle = nullptr;
  ~Module() {
    if (handle) dlclose(handle);
  }
};

struct PluginHost::Entry {
  std::string identifier;
  bool tester = true;
  OrdalisTesterCreatorFactory tester_factory = nullptr;
  OrdalisBatchQueueItemCreatorFactory batch_factory = nullptr;
  std::string module_file;
};

// The context behind the registry a module's entry point sees: it collects the registrations,
// which the host takes over only when the whole registration succeeds.
class PluginHost::Loading {
 public:
  Loading(const PluginHost& host, std::string path) : host_(host), path_(std::move(path)) {}

  OrdalisPluginRegistry Registry() {
    return OrdalisPluginRegistry{kPluginAbiVersion, kPluginLayout, this, &AddTester, &AddBatch, &LogLine};
  }
  std::vector<Entry>& entries() { return entries_; }

 private:
  static int AddTester(void* context, const char* identifier, OrdalisTesterCreatorFactory factory) {
    auto* self = static_cast<Loading*>(context);
    if (!identifier || !*identifier || !factory) return -1;
    self->entries_.push_back(Entry{identifier, true, factory, nullptr, self->path_});
    return 0;
  }
  static int AddBatch(void* context, const char* identifier,
                      OrdalisBatchQueueItemCreatorFactory factory) {
    auto* self = static_cast<Loading*>(context);
    if (!identifier || !*identifier || !factory) return -1;
    self->entries_.push_back(Entry{identifier, false, nullptr, factory, self->path_});
    return 0;
  }
  static void LogLine(void* context, const char* text) {
    auto* self = static_cast<Loading*>(context);
    self->host_.Log("ordalis: plug-in " + self->path_ + ": " + (text ? text : ""));
  }

  const PluginHost& host_;
  std::string path_;
  std::vector<Entry> entries_;
};

std::shared_ptr<PluginHost> PluginHost::Instance() {
  static const std::shared_ptr<PluginHost> instance = Create(PluginPath());
  return instance;
}

std::vector<std::string> PluginHost::PluginPath() {
  std::vector<std::string> directories;
  if (const char* path = std::getenv("ORDALIS_PLUGIN_PATH")) {
    std::string text = path;
    std::size_t start = 0;
    while (start <= text.size()) {
      std::size_t colon = text.find(':', start);
      if (colon == std::string::npos) colon = text.size();
      if (colon > start) directories.push_back(text.substr(start, colon - start));
      start = colon + 1;
    }
  }
  directories.emplace_back(ORDALIS_INSTALL_PLUGIN_DIR);
  // An installed tree that was moved or unpacked elsewhere (a package extracted into a scratch
  // root, a relocated prefix) keeps its plug-ins beside the code: <prefix>/lib/ordalis/plugins
  // seen from bin/ordalis or from lib/libordalis.so. It comes before the build tree's directory,
  // so an installed program uses the plug-ins installed with it.
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&PluginHost::PluginPath), &info) != 0 && info.dli_fname) {
    std::string file = info.dli_fname;
    std::size_t slash = file.rfind('/');
    std::string here = slash == std::string::npos ? "." : file.substr(0, slash);
    for (const std::string& directory : {here + "/../lib/ordalis/plugins", here + "/ordalis/plugins"}) {
      struct stat status{};
      if (::stat(directory.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        directories.push_back(directory);
      }
    }
  }
  if (*ORDALIS_BUILD_PLUGIN_DIR) directories.emplace_back(ORDALIS_BUILD_PLUGIN_DIR);
  return directories;
}

std::shared_ptr<PluginHost> PluginHost::Create(const std::vector<std::string>& directories,
                                               LogSink log) {
  std::shared_ptr<PluginHost> host(new PluginHost(std::move(log)));
  for (const std::string& directory : directories) host->LoadDirectory(directory);
  return host;
}

PluginHost::PluginHost(LogSink log) : log_(std::move(log)) {}

PluginHost::~PluginHost() {
  // The factories point into the modules: forget them before the modules are closed.
  entries_.clear();
  while (!modules_.empty()) modules_.pop_back();
}

void PluginHost::SetDefaultLogSink(LogSink log) {
  std::lock_guard lock(default_sink_mutex);
  DefaultSink() = std::move(log);
}

void PluginHost::Log(const std::string& line) const {
  LogSink sink = log_;
  if (!sink) {
    std::lock_guard lock(default_sink_mutex);
    sink = DefaultSink();
  }
  if (sink) {
    try {
      sink(line);
      return;
    } catch (...) {
    }
  }
  std::fprintf(stderr, "%s\n", line.c_str());
}

void PluginHost::LoadDirectory(const std::string& directory) {
  DIR* dir = opendir(directory.c_str());
  if (!dir) {
    if (errno != ENOENT && errno != ENOTDIR) {
      Log("ordalis: plug-in directory " + directory + " cannot be read: " + std::strerror(errno));
    }
    return;
  }
  std::vector<std::string> files;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (EndsWith(name, ".so")) files.push_back(name);
  }
  closedir(dir);
  std::sort(files.begin(), files.end());
  std::string prefix = EndsWith(directory, "/") ? directory : directory + "/";
  for (const std::string& name : files) {
    std::string path = prefix + name;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    LoadModule(path);
  }
}

void PluginHost::LoadModule(const std::string& path) {
  std::string name = BaseName(path);
  {
    std::lock_guard lock(mutex_);
    // A module found earlier on the path hides one of the same name further on.
    if (std::find(loaded_names_.begin(), loaded_names_.end(), name) != loaded_names_.end()) return;
  }
  auto module = std::make_unique<Module>();
  module->path = path;
  module->handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module->handle) {
    const char* reason = dlerror();
    Log("ordalis: plug-in " + path + " not loaded: " + (reason ? reason : "unknown reason"));
    return;
  }
  dlerror();
  auto entry = reinterpret_cast<OrdalisPluginEntry>(dlsym(module->handle, ORDALIS_PLUGIN_ENTRY_NAME));
  if (!entry) {
    Log("ordalis: plug-in " + path + " skipped: it has no entry point " ORDALIS_PLUGIN_ENTRY_NAME);
    return;
  }
  Loading loading(*this, path);
  OrdalisPluginRegistry registry = loading.Registry();
  std::uint32_t answer = 0;
  try {
    answer = entry(&registry);
  } catch (const std::exception& error) {
    Log("ordalis: plug-in " + path + " skipped: its registration threw: " + error.what());
    return;
  } catch (...) {
    Log("ordalis: plug-in " + path + " skipped: its registration threw an unknown exception");
    return;
  }
  if (answer != kPluginAbiVersion) {
    Log("ordalis: plug-in " + path + " skipped: " +
        (answer == 0 ? std::string("it refused this engine")
                     : "it was built for plug-in interface version " + std::to_string(answer)) +
        " (this engine offers version " + std::to_string(kPluginAbiVersion) + ")");
    return;
  }
  if (loading.entries().empty()) {
    Log("ordalis: plug-in " + path + " skipped: it registers no creators");
    return;
  }
  std::vector<std::string> problems;
  {
    std::lock_guard lock(mutex_);
    bool any = false;
    for (Entry& e : loading.entries()) {
      std::string problem;
      if (Register(std::move(e), &problem)) {
        any = true;
      } else {
        problems.push_back(std::move(problem));
      }
    }
    if (any) {
      loaded_names_.push_back(name);
      modules_.push_back(std::move(module));
    }
  }
  for (const std::string& problem : problems) Log(problem);
}

const PluginHost::Entry* PluginHost::Find(const std::string& identifier, bool tester) const {
  for (const Entry& entry : entries_) {
    if (entry.tester == tester && EqualIgnoringCase(entry.identifier, identifier)) return &entry;
  }
  return nullptr;
}

bool PluginHost::Register(Entry entry, std::string* problem) {
  if (entry.identifier.empty()) return false;
  if (const Entry* earlier = Find(entry.identifier, entry.tester)) {
    *problem = "ordalis: plug-in " + entry.module_file + ": identifier " + entry.identifier +
               " is already registered by " + earlier->module_file +
               "; the first registration is kept";
    return false;
  }
  entries_.push_back(std::move(entry));
  return true;
}

bool PluginHost::AddTesterCreator(const std::string& identifier, OrdalisTesterCreatorFactory factory) {
  if (!factory) return false;
  std::string problem;
  std::lock_guard lock(mutex_);
  return Register(Entry{identifier, true, factory, nullptr, kBuiltIn}, &problem);
}

bool PluginHost::AddBatchQueueItemCreator(const std::string& identifier,
                                          OrdalisBatchQueueItemCreatorFactory factory) {
  if (!factory) return false;
  std::string problem;
  std::lock_guard lock(mutex_);
  return Register(Entry{identifier, false, nullptr, factory, kBuiltIn}, &problem);
}

namespace {

// Calls a module's creator factory; an exception it throws becomes false, with its description
// in [error].
template <typename Factory, typename Made>
bool CallFactory(Factory factory, Made* made, std::string* error) {
  try {
    *made = factory();
    return true;
  } catch (const std::exception& thrown) {
    *error = thrown.what();
  } catch (...) {
    *error = "unknown exception";
  }
  return false;
}

}  // namespace

Status PluginHost::CreateTesterCreator(const std::string& identifier,
                                       std::shared_ptr<ITesterCreator>* creator) {
  if (!creator) return E_POINTER;
  creator->reset();
  OrdalisTesterCreatorFactory factory = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (const Entry* entry = Find(identifier, true)) factory = entry->tester_factory;
  }
  if (!factory) return S_OK;
  std::shared_ptr<ITesterCreator> made;
  std::string error;
  if (!CallFactory(factory, &made, &error)) {
    Log("ordalis: tester creator " + identifier + " could not be made: " + error);
    return E_FAIL;
  }
  if (!made) return S_OK;
  if (auto level1 = std::dynamic_pointer_cast<ITesterCreator1>(made)) {
    *creator = std::make_shared<HostedTesterCreator1>(std::move(level1), KeepAlive());
  } else {
    *creator = std::make_shared<HostedTesterCreator>(std::move(made), KeepAlive());
  }
  return S_OK;
}

Status PluginHost::CreateBatchQueueItemCreator(const std::string& identifier,
                                               std::shared_ptr<IBatchQueueItemCreator>* creator) {
  if (!creator) return E_POINTER;
  creator->reset();
  OrdalisBatchQueueItemCreatorFactory factory = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (const Entry* entry = Find(identifier, false)) factory = entry->batch_factory;
  }
  if (!factory) return S_OK;
  std::shared_ptr<IBatchQueueItemCreator> made;
  std::string error;
  if (!CallFactory(factory, &made, &error)) {
    Log("ordalis: batch item creator " + identifier + " could not be made: " + error);
    return E_FAIL;
  }
  if (made) *creator = std::make_shared<HostedBatchQueueItemCreator>(std::move(made), KeepAlive());
  return S_OK;
}

std::vector<std::string> PluginHost::TesterCreatorIds() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> ids;
  for (const Entry& entry : entries_) {
    if (entry.tester) ids.push_back(entry.identifier);
  }
  return ids;
}

std::vector<std::string> PluginHost::BatchQueueItemCreatorIds() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> ids;
  for (const Entry& entry : entries_) {
    if (!entry.tester) ids.push_back(entry.identifier);
  }
  return ids;
}

std::string PluginHost::ModuleFile(const std::string& identifier) const {
  std::lock_guard lock(mutex_);
  const Entry* entry = Find(identifier, true);
  if (!entry) entry = Find(identifier, false);
  return entry ? entry->module_file : std::string();
}

std::vector<std::string> PluginHost::Modules() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> paths;
  for (const auto& module : modules_) paths.push_back(module->path);
  return paths;
}

}  // namespace ordalis
