#include "links/visa_coms.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "links/link_parameters.h"

namespace ordalis {

namespace {

// The part of the published VISA interface the link uses. Sessions and counts are 32-bit
// unsigned, statuses 32-bit signed: negative is an error, zero or positive success.
using ViStatus = std::int32_t;
using ViSession = std::uint32_t;
using OpenDefaultRMFunction = ViStatus (*)(ViSession*);
using OpenFunction = ViStatus (*)(ViSession, const char*, std::uint32_t, std::uint32_t, ViSession*);
using CloseFunction = ViStatus (*)(ViSession);
using ReadFunction = ViStatus (*)(ViSession, unsigned char*, std::uint32_t, std::uint32_t*);
using WriteFunction = ViStatus (*)(ViSession, const unsigned char*, std::uint32_t, std::uint32_t*);

constexpr std::uint32_t kNoLock = 0;
constexpr std::uint32_t kNoOpenTimeout = 0;
constexpr std::uint32_t kResponseLimit = 2047;
constexpr int kReadAttempts = 10;

}  // namespace

struct VisaLibrary {
  OpenDefaultRMFunction open_default_rm = nullptr;
  OpenFunction open = nullptr;
  CloseFunction close = nullptr;
  ReadFunction read = nullptr;
  WriteFunction write = nullptr;
};

namespace {

// Loads the VISA library named by ORDALIS_VISA_LIBRARY (or libvisa.so) the first time it is
// asked for; a library once loaded stays loaded, since sessions may outlive any one link.
const VisaLibrary* LoadVisa() {
  static std::mutex mutex;
  static std::map<std::string, VisaLibrary> loaded;
  const char* configured = std::getenv("ORDALIS_VISA_LIBRARY");
  std::string path = configured && *configured ? configured : "libvisa.so";
  std::lock_guard lock(mutex);
  auto found = loaded.find(path);
  if (found != loaded.end()) return &found->second;
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return nullptr;
  VisaLibrary library;
  library.open_default_rm = reinterpret_cast<OpenDefaultRMFunction>(::dlsym(handle, "viOpenDefaultRM"));
  library.open = reinterpret_cast<OpenFunction>(::dlsym(handle, "viOpen"));
  library.close = reinterpret_cast<CloseFunction>(::dlsym(handle, "viClose"));
  library.read = reinterpret_cast<ReadFunction>(::dlsym(handle, "viRead"));
  library.write = reinterpret_cast<WriteFunction>(::dlsym(handle, "viWrite"));
  if (!library.open_default_rm || !library.open || !library.close || !library.read || !library.write) {
    ::dlclose(handle);
    return nullptr;
  }
  return &loaded.emplace(path, library).first->second;
}

}  // namespace

VISAComs::~VISAComs() {
  if (open_.load()) Close();
}

bool VISAComs::Open(const LinkParameters& parameters) {
  if (open_.load()) return false;
  if (parameters.size() != 1 || !link_parameters::IsText(parameters[0])) return false;
  const VisaLibrary* visa = LoadVisa();
  if (!visa) return false;
  const std::string& resource = parameters[0].as_string();
  ViSession manager = 0;
  ViSession instrument = 0;
  try {
    if (visa->open_default_rm(&manager) < 0) return false;
    if (visa->open(manager, resource.c_str(), kNoLock, kNoOpenTimeout, &instrument) < 0) {
      visa->close(manager);
      return false;
    }
  } catch (...) {
    return false;
  }
  visa_ = visa;
  {
    std::lock_guard lock(session_mutex_);
    resource_manager_ = manager;
    instrument_ = instrument;
  }
  stop_.Reset();
  read_request_.Reset();
  reader_thread_.Start([this] { ReaderThread(); });
  open_.store(true);
  SetOnline(true);
  SetDescription("visa " + resource);
  return true;
}

bool VISAComs::Close() {
  if (!open_.load()) return false;
  stop_.Set();
  reader_thread_.Join();
  const VisaLibrary* visa = visa_;
  bool closed = true;
  {
    std::lock_guard lock(session_mutex_);
    try {
      if (visa->close(instrument_) < 0) closed = false;
      if (visa->close(resource_manager_) < 0) closed = false;
    } catch (...) {
      closed = false;
    }
    instrument_ = 0;
    resource_manager_ = 0;
  }
  open_.store(false);
  SetOnline(false);
  return closed;
}

bool VISAComs::SendRaw(const std::uint8_t* bytes, std::size_t length) {
  if (!open_.load()) return false;
  const VisaLibrary* visa = visa_;
  bool query = std::memchr(bytes, '?', length) != nullptr;
  std::size_t written = 0;
  {
    std::lock_guard lock(session_mutex_);
    while (written < length) {
      std::uint32_t count = 0;
      auto chunk = static_cast<std::uint32_t>(std::min<std::size_t>(length - written, 0xFFFFFFFFu));
      ViStatus status;
      try {
        status = visa->write(instrument_, bytes + written, chunk, &count);
      } catch (...) {
        status = -1;
      }
      if (status < 0 || count == 0) break;
      written += std::min<std::size_t>(count, chunk);
    }
  }
  if (written > 0) NotifySent(bytes, written);
  if (written < length) return false;
  if (query) read_request_.Set();
  return true;
}

// Reads the answer to each query: up to 10 attempts, each under the session mutex; the first
// answer read goes to the client with a line feed appended.
void VISAComs::ReaderThread() {
  const VisaLibrary* visa = visa_;
  std::vector<std::uint8_t> response(kResponseLimit + 1);
  while (Event::WaitAny({&stop_.event(), &read_request_}) == 1) {
    read_request_.Reset();
    for (int attempt = 0; attempt < kReadAttempts && !stop_.IsSet(); ++attempt) {
      std::uint32_t count = 0;
      ViStatus status;
      {
        std::lock_guard lock(session_mutex_);
        try {
          status = visa->read(instrument_, response.data(), kResponseLimit, &count);
        } catch (...) {
          status = -1;
        }
      }
      if (status < 0) continue;
      count = std::min(count, kResponseLimit);
      response[count] = '\n';
      DeliverReceived(response.data(), count + 1);
      break;
    }
  }
}

}  // namespace ordalis
