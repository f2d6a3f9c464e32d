#include "links/encrypt.h"

#include <nettle/arcfour.h>
#include <nettle/md5.h>

namespace ordalis {

Encrypt::Encrypt(std::string key) : key_(std::move(key)) {}

bool Encrypt::Apply(std::uint8_t* data, std::size_t length) {
  if (key_.empty()) {
    // An empty phrase cannot make a key; report it as the key-derivation step failing.
    last_error_ = "CryptDeriveKey failed 0";
    return false;
  }
  std::uint8_t digest[MD5_DIGEST_SIZE];
  md5_ctx hash;
  md5_init(&hash);
  md5_update(&hash, key_.size(), reinterpret_cast<const std::uint8_t*>(key_.data()));
  md5_digest(&hash, sizeof digest, digest);

  arcfour_ctx cipher;
  arcfour_set_key(&cipher, sizeof digest, digest);
  if (length > 0) arcfour_crypt(&cipher, length, data, data);
  last_error_.clear();
  return true;
}

}  // namespace ordalis
