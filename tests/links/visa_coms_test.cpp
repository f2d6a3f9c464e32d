#include "links/visa_coms.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include "recording_client.h"

namespace ordalis {
namespace {

using testing::Params;
using testing::RecordingClient;

// The link loads the simulated VISA library named by ORDALIS_VISA_LIBRARY; the test reaches
// the same loaded library for its read counter.
class Visa : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ::setenv("ORDALIS_VISA_LIBRARY", ORDALIS_FAKE_VISA, 1); }
  void SetUp() override {
    library = ::dlopen(ORDALIS_FAKE_VISA, RTLD_NOW);
    ASSERT_NE(library, nullptr);
    reads = reinterpret_cast<int (*)()>(::dlsym(library, "fake_visa_reads"));
    open_sessions = reinterpret_cast<int (*)()>(::dlsym(library, "fake_visa_open_sessions"));
  }
  void TearDown() override { ::dlclose(library); }

  void* library = nullptr;
  int (*reads)() = nullptr;
  int (*open_sessions)() = nullptr;
};

TEST_F(Visa, QueryIsAnsweredAndAWriteWithoutQuestionMarkNeverReads) {
  RecordingClient client;
  VISAComs link(&client);
  ASSERT_TRUE(link.Open(Params({Variant::String("GPIB0::1::INSTR")})));
  EXPECT_FALSE(link.Open(Params({Variant::String("GPIB0::1::INSTR")})));
  EXPECT_EQ(link.Status(), "visa GPIB0::1::INSTR online");
  int reads_before = reads();

  ASSERT_TRUE(link.Send("*RST\n"));
  auto record = client.Snapshot();
  EXPECT_EQ(record.sent, "*RST\n");  // reported on the caller's thread, before Send returns
  EXPECT_EQ(record.sent_threads, std::vector<std::thread::id>{std::this_thread::get_id()});

  ASSERT_TRUE(link.Send("*IDN?\n"));
  ASSERT_TRUE(client.WaitForReceived("Ordalis,Simulated Meter,0,1.0\n"));
  EXPECT_EQ(reads() - reads_before, 1);  // only the query read

  EXPECT_TRUE(link.Close());
  EXPECT_FALSE(link.Close());
  EXPECT_EQ(open_sessions(), 0);
  EXPECT_EQ(link.Status(), "visa GPIB0::1::INSTR offline");
  EXPECT_FALSE(link.Send("*IDN?\n"));
}

TEST_F(Visa, AnUnansweredQueryGivesUpAfterTenReads) {
  RecordingClient client;
  VISAComs link(&client);
  ASSERT_TRUE(link.Open(Params({Variant::String("GPIB0::1::INSTR")})));
  int reads_before = reads();
  ASSERT_TRUE(link.Send("MEAS:VOLT?\n"));  // the simulated meter knows only *IDN?
  ASSERT_TRUE(link.Send("*IDN?\n"));
  ASSERT_TRUE(client.WaitForReceived("Ordalis"));
  EXPECT_TRUE(link.Close());
  int made = reads() - reads_before;
  // The answer to *IDN? may be picked up by the first query's attempts or its own.
  EXPECT_GE(made, 1);
  EXPECT_LE(made, 11);
  EXPECT_EQ(client.Snapshot().received, "Ordalis,Simulated Meter,0,1.0\n");
}

TEST_F(Visa, OpenFailsForUnknownResourcesAndBadParameters) {
  RecordingClient client;
  VISAComs link(&client);
  EXPECT_FALSE(link.Open(Params({Variant::String("GPIB0::9::INSTR")})));
  EXPECT_FALSE(link.Open(Params({Variant::Int(1)})));
  EXPECT_FALSE(link.Open({}));
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(open_sessions(), 0);
}

}  // namespace
}  // namespace ordalis
