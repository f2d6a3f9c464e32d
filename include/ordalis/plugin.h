#pragma once
// The plug-in entry point. A plug-in module is a shared library that exports one C function,
// ordalis_plugin_v1. The engine's loader calls it once, right after loading the module, with a
// registry through which the module names its creators: tester creators (ITesterCreator) and
// batch item creators (IBatchQueueItemCreator), each under an identifier text, by convention a
// class identifier in braces ("{AE96A215-DD09-45A8-9075-26D1616B16E9}").
//
// The registry and the objects exchanged through it are C++ objects (std::shared_ptr, std::string),
// so a module must be built with the same compiler family and standard library as the engine.
// The version and layout fields let both sides refuse a mismatch instead of crashing.
//
// Most authors do not call this directly: include "ordalis/tester_plugin.h" and use
// ORDALIS_PLUGIN, which checks the versions and catches every exception.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "ordalis/api.h"
#include "ordalis/interfaces.h"

namespace ordalis {

// The version of the plug-in interface this header describes. A change of any SDK interface
// that breaks existing modules raises it (and renames the entry point).
inline constexpr std::uint32_t kPluginAbiVersion = 1;

// A fingerprint of the object layouts that cross the module boundary. A module built against a
// different standard library or SDK layout has a different value and is refused.
inline constexpr std::uint32_t kPluginLayout =
    static_cast<std::uint32_t>(sizeof(std::string) << 24) |
    static_cast<std::uint32_t>(sizeof(Variant) << 12) |
    static_cast<std::uint32_t>(sizeof(std::shared_ptr<IUnknown>));

// An error a plug-in may throw to report a status code with a description; the engine turns it
// into the text "exception <code> <description>" where it reports a failed creation.
class ORDALIS_API AutomationError : public std::runtime_error {
 public:
  AutomationError(Status code, const std::string& description)
      : std::runtime_error(description), code_(code) {}
  Status code() const { return code_; }

 private:
  Status code_;
};

}  // namespace ordalis

extern "C" {

// Makes a new creator. Called by the engine whenever a creator for the registered identifier is
// needed; each call should give an independent object. May throw; the engine catches it.
typedef std::shared_ptr<ordalis::ITesterCreator> (*OrdalisTesterCreatorFactory)();
typedef std::shared_ptr<ordalis::IBatchQueueItemCreator> (*OrdalisBatchQueueItemCreatorFactory)();

// What the engine hands to the entry point. Valid only during the call.
struct OrdalisPluginRegistry {
  std::uint32_t abi_version;  // kPluginAbiVersion of the engine
  std::uint32_t layout;       // kPluginLayout of the engine
  void* context;              // pass back unchanged to the functions below
  // Registers a creator under [identifier]; returns 0 on success, -1 when the identifier is
  // empty or the factory is null. An identifier that another module already registered is
  // reported by the engine and the first registration is kept.
  int (*add_tester_creator)(void* context, const char* identifier,
                            OrdalisTesterCreatorFactory factory);
  int (*add_batch_queue_item_creator)(void* context, const char* identifier,
                                      OrdalisBatchQueueItemCreatorFactory factory);
  // Writes one line to the engine's plug-in log, naming the module.
  void (*log)(void* context, const char* text);
};

// The signature of the entry point. It returns the plug-in interface version the module was
// built for (kPluginAbiVersion), or 0 when it refuses the engine (a version or layout it does
// not support); the engine ignores the registrations of a module that answers anything other
// than its own kPluginAbiVersion.
typedef std::uint32_t (*OrdalisPluginEntry)(const OrdalisPluginRegistry* registry);

}  // extern "C"

// The name under which the loader looks the entry point up.
#define ORDALIS_PLUGIN_ENTRY_NAME "ordalis_plugin_v1"
