#include "links/process_pipe.h"

#include <gtest/gtest.h>

#include "recording_client.h"

namespace ordalis {
namespace {

using testing::RecordingClient;

TEST(ProcessPipe, RunsShellCommandsAndEndsTheShellOnClose) {
  RecordingClient client;
  ProcessPipe link(&client);
  ASSERT_TRUE(link.Open({}));
  EXPECT_FALSE(link.Open({}));
  EXPECT_TRUE(link.IsOpen());
  EXPECT_EQ(link.Status(), "Process online");
  ASSERT_TRUE(link.Send("echo answer-$((6 * 7))\n"));
  EXPECT_TRUE(client.WaitForReceived("answer-42"));
  ASSERT_TRUE(link.Send("echo to-stderr-$((1 + 1)) >&2\n"));
  EXPECT_TRUE(client.WaitForReceived("to-stderr-2"));
  EXPECT_TRUE(client.WaitFor([](const auto& r) { return r.sent.find("echo answer") == 0; }));
  EXPECT_TRUE(link.Close());
  EXPECT_FALSE(link.IsOpen());
  EXPECT_FALSE(link.Close());
  EXPECT_EQ(link.Status(), "Process offline");
  EXPECT_NE(client.Snapshot().sent.find("exit\n"), std::string::npos);
}

TEST(ProcessPipe, GoesOfflineWhenTheShellExitsAndCanBeOpenedAgain) {
  RecordingClient client;
  ProcessPipe link(&client);
  ASSERT_TRUE(link.Open({}));
  ASSERT_TRUE(link.Send("exit 3\n"));
  ASSERT_TRUE(client.WaitFor([](const auto& r) { return r.disconnected == 1; }));
  EXPECT_TRUE(link.Close());
  ASSERT_TRUE(link.Open({}));
  ASSERT_TRUE(link.Send("echo second-$((2 + 2))\n"));
  EXPECT_TRUE(client.WaitForReceived("second-4"));
}

// A shell busy with a command that ignores its input still ends when the link closes, and
// destroying an open link closes it.
TEST(ProcessPipe, DestructionEndsABusyShell) {
  RecordingClient client;
  auto link = std::make_unique<ProcessPipe>(&client);
  ASSERT_TRUE(link->Open({}));
  ASSERT_TRUE(link->Send("echo busy; sleep 600\n"));
  ASSERT_TRUE(client.WaitForReceived("busy"));
  link.reset();
  EXPECT_EQ(client.Snapshot().disconnected, 1);
}

}  // namespace
}  // namespace ordalis
