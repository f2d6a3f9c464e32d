#include "links/encrypt.h"

#include <gtest/gtest.h>

namespace ordalis {
namespace {

TEST(Encrypt, RoundTripsEachMessageOnItsOwn) {
  Encrypt sender("secret");
  Encrypt receiver("secret");
  std::string first = "*IDN?\n";
  std::string second = "*IDN?\n";
  ASSERT_TRUE(sender.Apply(first));
  ASSERT_TRUE(sender.Apply(second));
  EXPECT_NE(first, "*IDN?\n");
  EXPECT_EQ(first, second);  // the key stream starts afresh for every message
  ASSERT_TRUE(receiver.Apply(first));
  EXPECT_EQ(first, "*IDN?\n");
}

TEST(Encrypt, KnownCiphertextForFixedKey) {
  // RC4 keyed with MD5("Key"): a change in key derivation would break every stored password
  // and every peer, so the key stream is pinned.
  Encrypt cipher("Key");
  std::vector<std::uint8_t> data(4, 0);
  ASSERT_TRUE(cipher.Apply(data));
  EXPECT_EQ(data, (std::vector<std::uint8_t>{0xec, 0x43, 0x5a, 0xdf}));
}

TEST(Encrypt, EmptyKeyFailsWithText) {
  Encrypt cipher("");
  std::string data = "x";
  EXPECT_FALSE(cipher.Apply(data));
  EXPECT_EQ(cipher.LastError().rfind("CryptDeriveKey failed ", 0), 0u);
}

}  // namespace
}  // namespace ordalis
