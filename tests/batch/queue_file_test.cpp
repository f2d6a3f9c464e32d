#include "batch/queue_file.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "batch_test_support.h"

namespace ordalis::batch {
namespace {

// Bytes written in hexadecimal, spaces ignored: Hex("FF FE") is the two bytes 0xFF 0xFE.
std::string Hex(const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    i += 2;
  }
  return bytes;
}

std::string U32(std::uint32_t value) {
  std::string out;
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
  return out;
}

// An 8-bit archive string (no UTF-16 marker), as files of the earliest versions hold them.
std::string Narrow(const std::string& text) { return static_cast<char>(text.size()) + text; }

std::string Archived(const std::string& text) {
  std::string out;
  AppendArchiveString(out, text);
  return out;
}

TEST(QueueFile, ArchiveStringsInEveryLengthForm) {
  EXPECT_EQ(Archived(""), Hex("FF FE FF 00"));
  EXPECT_EQ(Archived("ab"), Hex("FF FE FF 02 6100 6200"));
  std::string long_text(300, 'x');
  EXPECT_EQ(Archived(long_text).substr(0, 6), Hex("FF FE FF FF 2C 01"));
  std::string longer(0xFFFE, 'y');
  EXPECT_EQ(Archived(longer).substr(0, 10), Hex("FF FE FF FF FF FF FE FF 00 00"));
  // Characters beyond ASCII travel as UTF-16, pairs for those past U+FFFF; a byte that is not
  // UTF-8 becomes the character of the same number.
  EXPECT_EQ(Archived("\xC3\xA9"), Hex("FF FE FF 01 E900"));
  EXPECT_EQ(Archived("\xF0\x9F\x98\x80"), Hex("FF FE FF 02 3DD8 00DE"));
  EXPECT_EQ(Archived("\xE9"), Hex("FF FE FF 01 E900"));

  for (const std::string& name : {std::string(), long_text, longer, std::string("\xC3\xA9\xF0\x9F\x98\x80 x")}) {
    QueueFileContents contents;
    contents.entries = {{name, "a@b"}};
    QueueFileContents read;
    ASSERT_TRUE(ParseQueueFile(SerializeQueueFile(contents), &read, nullptr));
    EXPECT_EQ(read.entries, contents.entries);
  }
}

TEST(QueueFile, AVersionOneFileLoadsWithTheDefaultsOfTheFieldsItLacks) {
  std::string bytes = U32(1) + U32(2) + Narrow("C:\\t\\a.odl") + Narrow("b.bat");
  QueueFileContents read;
  ASSERT_TRUE(ParseQueueFile(bytes, &read, nullptr));
  EXPECT_EQ(read.version, 1u);
  EXPECT_EQ(read.entries, (std::vector<QueueFileEntry>{{"C:\\t\\a.odl", ""}, {"b.bat", ""}}));
  EXPECT_EQ(read.settings, (QueueSettings{false, true, false, 0, false, false}));
}

// Each version carries the settings fields it introduced and those before it; the rest keep
// the defaults. Every field present here is written as "on" (retry count 5).
TEST(QueueFile, EachFormatVersionReadsItsOwnFields) {
  struct Case {
    std::uint32_t version;
    QueueSettings expected;
  };
  const Case cases[] = {
      {0, {false, true, false, 0, false, false}}, {1, {false, true, false, 0, false, false}},
      {2, {true, true, false, 0, false, false}},  {3, {true, true, false, 0, false, false}},
      {4, {true, true, false, 0, false, false}},  {5, {true, true, false, 0, false, false}},
      {6, {true, true, true, 0, false, false}},   {7, {true, true, true, 5, false, false}},
      {8, {true, true, true, 5, true, false}},    {9, {true, true, true, 5, true, true}},
  };
  for (const Case& c : cases) {
    std::string bytes = U32(c.version);
    if (c.version >= 1) bytes += U32(1) + Archived("a.odl") + (c.version >= 3 ? Archived("m@x") : "");
    if (c.version >= 2) bytes += U32(1);
    if (c.version >= 4) bytes += U32(1);
    if (c.version >= 6) bytes += U32(1);
    if (c.version >= 7) bytes += U32(5);
    if (c.version >= 8) bytes += U32(1);
    if (c.version >= 9) bytes += U32(1);
    QueueFileContents read;
    QueueFileError error;
    ASSERT_TRUE(ParseQueueFile(bytes, &read, &error)) << "version " << c.version << ": " << error.reason;
    EXPECT_EQ(read.settings, c.expected) << "version " << c.version;
    EXPECT_EQ(read.entries.size(), c.version >= 1 ? 1u : 0u);
    if (c.version >= 3) {
      EXPECT_EQ(read.entries[0].email_addresses, "m@x");
    }
  }
}

TEST(QueueFile, AFileCutShortAnywhereIsRefusedAtTheOffsetWhereItEnds) {
  QueueFileContents contents;
  contents.entries = {{"a.odl", "x@y"}, {std::string(300, 'n'), ""}};
  std::string bytes = SerializeQueueFile(contents);
  for (std::size_t length = 0; length < bytes.size(); ++length) {
    QueueFileContents read;
    read.version = 77;
    QueueFileError error;
    ASSERT_FALSE(ParseQueueFile(bytes.substr(0, length), &read, &error)) << length;
    EXPECT_EQ(read.version, 77u) << "nothing is taken from a refused file";
    EXPECT_LE(error.offset, length);
    EXPECT_FALSE(error.reason.empty());
  }
  QueueFileError error;
  QueueFileContents read;
  EXPECT_FALSE(ParseQueueFile("hello, not a queue file", &read, &error));
  EXPECT_EQ(error.offset, 4u);
  EXPECT_NE(error.reason.find("format version"), std::string::npos) << error.reason;
  // A length that claims more characters than the file holds is caught before any allocation.
  EXPECT_FALSE(ParseQueueFile(U32(9) + U32(1) + Hex("FF FE FF FF FF FF FF FF FF 7F"), &read, &error));
  EXPECT_FALSE(ParseQueueFile(U32(9) + U32(0xFFFFFFFF), &read, &error));
}

// A file of [count] empty entries in the 8-bit form, two bytes each, and the version 9 settings.
std::string EmptyEntries(std::uint32_t count) {
  return U32(9) + U32(count) + std::string(2 * std::size_t{count}, '\0') + std::string(24, '\0');
}

// The entry count is checked as soon as it is read, so a few bytes cannot make the reader spend
// memory on millions of entries.
TEST(QueueFile, TheEntryCountIsBoundedBeforeAnEntryIsRead) {
  struct Case {
    std::uint32_t count;
    bool read;
  };
  const std::uint32_t limit = static_cast<std::uint32_t>(kMaxQueueEntries);
  for (const Case& c : {Case{limit, true}, Case{limit + 1, false}, Case{0xFFFFFFFF, false}}) {
    std::string bytes = c.count == 0xFFFFFFFF ? U32(9) + U32(c.count) : EmptyEntries(c.count);
    QueueFileContents read;
    QueueFileError error;
    EXPECT_EQ(ParseQueueFile(bytes, &read, &error), c.read) << c.count;
    if (c.read) {
      EXPECT_EQ(read.entries.size(), c.count);
      continue;
    }
    EXPECT_EQ(error.offset, 8u) << c.count;
    EXPECT_NE(error.reason.find("at most " + std::to_string(limit)), std::string::npos) << error.reason;
  }
}

class QueueFileFolderTest : public testing_support::TempDirTest {};

// A folder of files and its queue file move together; a file outside the folder keeps its
// place relative to it.
TEST_F(QueueFileFolderTest, EntriesAreStoredRelativeToTheQueueFile) {
  std::string tests = Path("tests");
  std::vector<QueueFileEntry> entries = {
      {tests + "/a.odl", "one@x"}, {tests + "/sub/b.bat", ""}, {Path("other/c.pl"), ""}};
  std::string bytes = QueueFileBytes(tests + "/q.tbq", entries, kNewQueueSettings);
  QueueFileContents stored;
  ASSERT_TRUE(ParseQueueFile(bytes, &stored, nullptr));
  EXPECT_EQ(stored.entries, (std::vector<QueueFileEntry>{{"a.odl", "one@x"}, {"sub/b.bat", ""}, {"../other/c.pl", ""}}));
  EXPECT_EQ(stored.settings, kNewQueueSettings);

  testing_support::WriteFile(Path("copy/q.tbq"), bytes);
  QueueFileContents read;
  std::string problem;
  ASSERT_EQ(ReadQueueFile(Path("copy/q.tbq"), &read, &problem), QueueFileRead::kRead) << problem;
  EXPECT_EQ(read.entries[0].file_name, Path("copy/a.odl"));
  EXPECT_EQ(read.entries[1].file_name, Path("copy/sub/b.bat"));
  EXPECT_EQ(read.entries[2].file_name, Path("other/c.pl"));

  EXPECT_EQ(ReadQueueFile(Path("missing.tbq"), &read, &problem), QueueFileRead::kCannotOpen);
  testing_support::WriteFile(Path("bad.tbq"), U32(9) + U32(3));
  EXPECT_EQ(ReadQueueFile(Path("bad.tbq"), &read, &problem), QueueFileRead::kMalformed);
  EXPECT_NE(problem.find(Path("bad.tbq")), std::string::npos) << problem;
  EXPECT_NE(problem.find("byte offset 8"), std::string::npos) << problem;
}

}  // namespace
}  // namespace ordalis::batch

namespace ordalis::batch {
namespace {

// Only a regular file is read, and one above the size limit is refused before it is read (the
// files above the limit here are sparse: they take no room on the disk).
TEST_F(QueueFileFolderTest, OnlyRegularFilesWithinTheSizeLimitAreRead) {
  std::filesystem::create_directories(Path("folder.tbq"));
  std::filesystem::create_symlink("/dev/zero", Path("zero.tbq"));
  std::filesystem::create_symlink(Path("loop.tbq"), Path("loop.tbq"));
  testing_support::WriteFile(Path("at_limit.tbq"), "");
  std::filesystem::resize_file(Path("at_limit.tbq"), kMaxQueueFileSize);  // version 0: an empty queue
  testing_support::WriteFile(Path("above_limit.tbq"), "");
  std::filesystem::resize_file(Path("above_limit.tbq"), kMaxQueueFileSize + 1);
  struct Case {
    const char* file;
    QueueFileRead outcome;
    const char* problem;
  };
  const Case cases[] = {
      {"at_limit.tbq", QueueFileRead::kRead, ""},
      {"above_limit.tbq", QueueFileRead::kMalformed, "larger than a queue file can be"},
      {"folder.tbq", QueueFileRead::kCannotOpen, "not a regular file"},
      {"zero.tbq", QueueFileRead::kCannotOpen, "not a regular file"},
      {"loop.tbq", QueueFileRead::kCannotOpen, "Too many levels of symbolic links"},
  };
  for (const Case& c : cases) {
    QueueFileContents read;
    std::string problem;
    EXPECT_EQ(ReadQueueFile(Path(c.file), &read, &problem), c.outcome) << c.file << ": " << problem;
    EXPECT_NE(problem.find(c.problem), std::string::npos) << c.file << ": " << problem;
  }
}

}  // namespace
}  // namespace ordalis::batch
