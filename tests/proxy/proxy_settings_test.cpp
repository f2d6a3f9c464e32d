#include "proxy/proxy_settings.h"

#include <gtest/gtest.h>

#include <string>

namespace ordalis {
namespace {

std::string Int32(std::int32_t value) {
  std::string out;
  for (int i = 0; i < 4; ++i) out += static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF);
  return out;
}

struct StringCase {
  const char* name;
  std::string text;
  std::string encoded_start;  // marker and length
};

void PrintTo(const StringCase& c, std::ostream* out) { *out << c.name; }

class ArchiveStrings : public ::testing::TestWithParam<StringCase> {};

// Each length form, and characters beyond ASCII, survive a write and a read.
TEST_P(ArchiveStrings, RoundTrip) {
  std::string encoded = ArchiveString(GetParam().text);
  EXPECT_EQ(encoded.substr(0, GetParam().encoded_start.size()), GetParam().encoded_start);
  ProxySettings settings;
  settings.type = GetParam().text;
  settings.parameters = "5025";
  std::string error;
  ProxySettings read;
  ASSERT_EQ(ReadProxySettings(WriteProxySettings(settings), &read, &error), SettingsRead::kRead) << error;
  EXPECT_EQ(read.type, GetParam().text);
  EXPECT_EQ(read.parameters, "5025");
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, ArchiveStrings,
    ::testing::Values(StringCase{"Empty", "", std::string("\xFF\xFE\xFF\x00", 4)},
                      StringCase{"Short", "tcp", std::string("\xFF\xFE\xFF\x03t\x00", 6)},
                      StringCase{"OneByteLimit", std::string(254, 'a'), std::string("\xFF\xFE\xFF\xFE", 4)},
                      StringCase{"SixteenBits", std::string(255, 'b'), std::string("\xFF\xFE\xFF\xFF\xFF\x00", 6)},
                      StringCase{"ThirtyTwoBits", std::string(70000, 'c'), std::string("\xFF\xFE\xFF\xFF\xFF\xFF\x70\x11\x01\x00", 10)},
                      StringCase{"Accents", "caf\xC3\xA9 \xE2\x82\xAC", std::string("\xFF\xFE\xFF\x06", 4)},
                      StringCase{"BeyondTheBasicPlane", "\xF0\x9F\x94\x8C", std::string("\xFF\xFE\xFF\x02", 4)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProxySettingsFile, VersionTwoHoldsTheKeyAndVersionThreeTheCipher) {
  ProxySettings settings;
  settings.type = "tcp";
  settings.parameters = "5025";
  settings.key = "secret";
  std::string rc4 = WriteProxySettings(settings);
  EXPECT_EQ(rc4, Int32(2) + ArchiveString("tcp") + ArchiveString("5025") + ArchiveString("secret"));
  settings.cipher = CipherMode::kChaCha20Poly1305;
  std::string authenticated = WriteProxySettings(settings);
  EXPECT_EQ(authenticated, Int32(3) + ArchiveString("tcp") + ArchiveString("5025") + ArchiveString("secret") +
                               ArchiveString("chacha20-poly1305"));
  ProxySettings read;
  std::string error;
  ASSERT_EQ(ReadProxySettings(authenticated, &read, &error), SettingsRead::kRead);
  EXPECT_EQ(read.cipher, CipherMode::kChaCha20Poly1305);
  EXPECT_EQ(read.key, "secret");
}

struct FileCase {
  const char* name;
  std::string bytes;
  SettingsRead outcome;
  std::string type;
  std::string key;
};

void PrintTo(const FileCase& c, std::ostream* out) { *out << c.name; }

class SettingsFiles : public ::testing::TestWithParam<FileCase> {};

TEST_P(SettingsFiles, ReadAsTheirVersionSays) {
  ProxySettings read;
  std::string error;
  EXPECT_EQ(ReadProxySettings(GetParam().bytes, &read, &error), GetParam().outcome) << error;
  if (GetParam().outcome != SettingsRead::kRead) return;
  EXPECT_EQ(read.type, GetParam().type);
  EXPECT_EQ(read.key, GetParam().key);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsFiles,
    ::testing::Values(
        FileCase{"VersionZero", Int32(0) + ArchiveString("tcp"), SettingsRead::kOldVersion, "", ""},
        FileCase{"VersionOneHasNoKey", Int32(1) + ArchiveString("udp") + ArchiveString("5025"), SettingsRead::kRead, "udp", ""},
        FileCase{"NarrowStrings", Int32(2) + "\x03tcp" + "\x04" "5025" + "\x01k", SettingsRead::kRead, "tcp", "k"},
        FileCase{"Empty", "", SettingsRead::kDamaged, "", ""},
        FileCase{"CutInTheVersion", "\x02\x00", SettingsRead::kDamaged, "", ""},
        FileCase{"CutInAString", Int32(2) + ArchiveString("tcp").substr(0, 5), SettingsRead::kDamaged, "", ""},
        FileCase{"KeyMissing", Int32(2) + ArchiveString("tcp") + ArchiveString("5025"), SettingsRead::kDamaged, "", ""},
        FileCase{"LengthBeyondTheFile", Int32(1) + std::string("\xFF\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 10), SettingsRead::kDamaged, "", ""},
        FileCase{"UnknownCipher", Int32(3) + ArchiveString("tcp") + ArchiveString("1") + ArchiveString("k") + ArchiveString("des"),
                 SettingsRead::kDamaged, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ordalis
