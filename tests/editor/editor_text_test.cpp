// The text helpers of the editor servers: columns editors count in UTF-16 against the engine's
// byte columns, file URIs, and where a name stands on its line.

#include "editor/editor_text.h"

#include <gtest/gtest.h>

#include <string>

namespace ordalis::editor {
namespace {

struct ColumnCase {
  const char* name;
  std::string line;
  std::uint32_t bytes;
  std::uint32_t characters;
};

class Columns : public testing::TestWithParam<ColumnCase> {};

TEST_P(Columns, CountBytesAsEditorsCountCharacters) {
  EXPECT_EQ(Utf16Column(GetParam().line, GetParam().bytes), GetParam().characters);
  EXPECT_EQ(ByteColumn(GetParam().line, GetParam().characters), std::min<std::size_t>(GetParam().bytes, GetParam().line.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Columns,
    testing::Values(ColumnCase{"ascii", "meter.Check(1)", 6, 6},
                    ColumnCase{"two_byte_letter", "t = \"\xC3\xA9t\xC3\xA9\" + x", 10, 8},
                    ColumnCase{"three_byte_sign", "u = \"\xE2\x82\xAC\" + x", 11, 9},
                    ColumnCase{"four_bytes_are_two_units", "v = \"\xF0\x9F\x98\x80\" + x", 12, 10},
                    ColumnCase{"line_end", "abc", 3, 3}),
    [](const testing::TestParamInfo<ColumnCase>& info) { return std::string(info.param.name); });

struct UriCase {
  const char* name;
  std::string uri;
  std::string path;
};

class Uris : public testing::TestWithParam<UriCase> {};

TEST_P(Uris, AreReadAsPaths) { EXPECT_EQ(UriToPath(GetParam().uri), GetParam().path); }

INSTANTIATE_TEST_SUITE_P(
    Names, Uris,
    testing::Values(UriCase{"plain", "file:///work/main.odl", "/work/main.odl"},
                    UriCase{"escaped_space_and_hash", "file:///a%20b/c%23d.odl", "/a b/c#d.odl"},
                    UriCase{"escaped_utf8", "file:///t%C3%A9st.odl", "/t\xC3\xA9st.odl"},
                    UriCase{"broken_escape_kept", "file:///x%zz.odl", "/x%zz.odl"},
                    UriCase{"other_scheme", "untitled:Untitled-1", ""}),
    [](const testing::TestParamInfo<UriCase>& info) { return std::string(info.param.name); });

TEST(Uris, PathsGoThereAndBack) {
  for (std::string path : {"/work/main.odl", "/a b/c#d%e.odl", "/t\xC3\xA9st/x?.odl"}) {
    EXPECT_EQ(UriToPath(PathToUri(path)), path) << PathToUri(path);
  }
}

struct NameCase {
  const char* name;
  std::string line;
  std::uint32_t from;
  std::string word;
  std::uint32_t start;
};

class Names : public testing::TestWithParam<NameCase> {};

TEST_P(Names, AreFoundAsWholeWords) {
  EXPECT_EQ(NameStart(GetParam().line, GetParam().from, GetParam().word), GetParam().start);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Names,
    testing::Values(NameCase{"at_the_column", "x = Twice(reading)", 4, "Twice", 4},
                    NameCase{"after_the_column", "x = Twice(reading)", 4, "reading", 10},
                    NameCase{"before_the_column", "meter = new multimeter(42)", 6, "meter", 0},
                    NameCase{"whole_word_only", "meters = meter", 0, "meter", 9},
                    NameCase{"any_case", "METER.Check(1)", 0, "meter", 0},
                    NameCase{"absent", "x = 1", 2, "y", 2}),
    [](const testing::TestParamInfo<NameCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ordalis::editor
