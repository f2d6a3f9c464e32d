#include "links/rs232.h"

#include <gtest/gtest.h>
#include <termios.h>

#include "fake_port.h"
#include "recording_client.h"
#include "socket_peer.h"

namespace ordalis {
namespace {

using testing::Params;
using testing::RecordingClient;

struct FlowCase {
  const char* given;
  const char* described;
  tcflag_t cflag_set;
  tcflag_t cflag_clear;
  tcflag_t iflag_set;
  tcflag_t iflag_clear;
};

void PrintTo(const FlowCase& c, std::ostream* out) { *out << c.given; }

class Rs232Flow : public ::testing::TestWithParam<FlowCase> {};

TEST_P(Rs232Flow, AppliesTheLineSettings) {
  testing::FakePort port;
  RecordingClient client;
  RS232 link(&client);
  const FlowCase& c = GetParam();
  ASSERT_TRUE(link.Open(Params({Variant::String(port.path()), Variant::Int(115200), Variant::String(c.given)})));
  EXPECT_EQ(link.Status(), "rs232 " + port.path() + ",115200," + c.described + " online");
  termios line = port.Settings();
  EXPECT_EQ(cfgetospeed(&line), B115200);
  EXPECT_EQ(cfgetispeed(&line), B115200);
  EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_EQ(line.c_cflag & c.cflag_set, c.cflag_set);
  EXPECT_EQ(line.c_cflag & c.cflag_clear, 0u);
  EXPECT_EQ(line.c_iflag & c.iflag_set, c.iflag_set);
  EXPECT_EQ(line.c_iflag & c.iflag_clear, 0u);
  EXPECT_EQ(line.c_cc[VSTART], 0x11);
  EXPECT_EQ(line.c_cc[VSTOP], 0x13);
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO), 0u);  // binary: no line editing, no echo
  EXPECT_TRUE(link.Close());
}

INSTANTIATE_TEST_SUITE_P(
    FlowNames, Rs232Flow,
    ::testing::Values(FlowCase{"None", "None", 0, CRTSCTS, 0, IXON | IXOFF},
                      FlowCase{"CTS", "CTS", CRTSCTS, 0, 0, IXON | IXOFF},
                      FlowCase{"cts+dtr", "CTS+DTR", CRTSCTS, 0, 0, IXON | IXOFF},
                      FlowCase{"Software", "Software", 0, CRTSCTS, IXON | IXOFF, 0},
                      FlowCase{"DSR", "DSR", 0, CRTSCTS, 0, IXON | IXOFF},
                      FlowCase{"Xon/Xoff", "None", 0, CRTSCTS, 0, IXON | IXOFF}),
    [](const auto& info) { return std::to_string(info.index); });

TEST(Rs232, CarriesDataBothWaysAndFollowsThePortAwayAndBack) {
  testing::FakePort port;
  RecordingClient client;
  RS232 link(&client);
  ASSERT_TRUE(link.Open(Params({Variant::String(port.path()), Variant::Int(9600)})));
  EXPECT_TRUE(link.IsOpen());
  ASSERT_TRUE(client.WaitFor([](const auto& r) { return r.connected == 1; }));

  ASSERT_TRUE(link.Send("to device"));
  EXPECT_EQ(testing::ReceiveBytes(port.master(), 9), "to device");
  ASSERT_EQ(::write(port.master(), "from device", 11), 11);
  ASSERT_TRUE(client.WaitForReceived("from device"));
  ASSERT_TRUE(client.WaitFor([](const auto& r) {
    bool received = false, transmitted = false;
    for (int code : r.line_events) {
      received |= code == kLineReceivedCharacter;
      transmitted |= code == kLineTransmitEmpty;
    }
    return received && transmitted;
  }));

  port.Unplug();
  ASSERT_TRUE(client.WaitFor([](const auto& r) { return r.disconnected == 1; }));
  EXPECT_FALSE(link.IsOpen());
  std::string offline = "rs232 " + port.path() + ",9600,None offline";
  EXPECT_TRUE(client.WaitFor([&](const auto& r) { return r.statuses.back() == offline; }));

  port.Plug();
  ASSERT_TRUE(client.WaitFor([](const auto& r) { return r.connected == 2; }));
  EXPECT_TRUE(link.IsOpen());
  ASSERT_TRUE(link.Send("back again"));
  EXPECT_EQ(testing::ReceiveBytes(port.master(), 10), "back again");
  ASSERT_EQ(::write(port.master(), "hello", 5), 5);
  ASSERT_TRUE(client.WaitForReceived("hello"));

  EXPECT_TRUE(link.Close());
  EXPECT_TRUE(link.Close());  // already closed
  EXPECT_FALSE(link.IsOnline());
}

TEST(Rs232, ClosesWhileThePortIsGone) {
  testing::FakePort port;
  RecordingClient client;
  RS232 link(&client);
  ASSERT_TRUE(link.Open(Params({Variant::String(port.path()), Variant::Int(19200), Variant::String("CTS")})));
  port.Unplug();
  ASSERT_TRUE(client.WaitFor([](const auto& r) { return r.disconnected == 1; }));
  EXPECT_TRUE(link.Close());
}

TEST(Rs232, PortNumberNamesTheSerialDevice) {
  EXPECT_EQ(RS232::DevicePath(1), "/dev/ttyS0");
  EXPECT_EQ(RS232::DevicePath(3), "/dev/ttyS2");
  RecordingClient client;
  RS232 link(&client);
  link.Open(Params({Variant::Int(3), Variant::Int(9600), Variant::String("unknown flow")}));
  EXPECT_EQ(link.Description(), "rs232 com3,9600,None");
  link.Close();
}

TEST(Rs232, OpenRejectsBadParametersAndMissingDevices) {
  RecordingClient client;
  RS232 link(&client);
  testing::FakePort port;
  const LinkParameters rejected[] = {
      {},
      Params({Variant::String(port.path())}),
      Params({Variant::String(port.path()), Variant::String("9600")}),
      Params({Variant::String(port.path()), Variant::Int(9600), Variant::Int(0)}),
      Params({Variant::Double(1), Variant::Int(9600)}),
      Params({Variant::String(port.path()), Variant::Int(12345)}),  // no such baud rate
      Params({Variant::String("/nonexistent/tty"), Variant::Int(9600)}),
  };
  for (const auto& parameters : rejected) {
    EXPECT_FALSE(link.Open(parameters)) << parameters.size();
    EXPECT_FALSE(link.IsOpen());
  }
}

}  // namespace
}  // namespace ordalis
