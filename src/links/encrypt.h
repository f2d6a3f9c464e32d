#pragma once
// Encrypt: RC4 encryption of one message at a time under a key phrase. The RC4 key is the MD5
// digest of the key bytes, and every message starts the key stream afresh, so each message can
// be decrypted on its own by a peer holding the same phrase.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ordalis {

class Encrypt {
 public:
  // [key] must hold at least one byte.
  explicit Encrypt(std::string key);

  // Encrypts (or decrypts: RC4 is its own inverse) [length] bytes at [data] in place. False
  // when the operation fails; LastError() then says which step failed.
  bool Apply(std::uint8_t* data, std::size_t length);
  bool Apply(std::vector<std::uint8_t>& data) { return Apply(data.data(), data.size()); }
  bool Apply(std::string& data) {
    return Apply(reinterpret_cast<std::uint8_t*>(data.data()), data.size());
  }

  const std::string& LastError() const { return last_error_; }

 private:
  std::string key_;
  std::string last_error_;
};

}  // namespace ordalis
