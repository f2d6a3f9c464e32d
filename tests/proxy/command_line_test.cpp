// `ordalis proxy` and `ordalis remote` driven as a pipeline would drive them, on the loop-back
// interface.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "log_record.h"
#include "temporary_folder.h"
#include "proxy/proxy_settings.h"
#include "proxy/script_proxy.h"

namespace ordalis {
namespace {

using testing::ChildProcess;


std::vector<std::string> Command(const char* name, std::vector<std::string> args) {
  args.insert(args.begin(), {ORDALIS_CLI, name});
  return args;
}

// An `ordalis proxy` serving on an ephemeral port of 127.0.0.1 ([link] gives the link, or a
// settings file).
class ServedProxy {
 public:
  explicit ServedProxy(std::vector<std::string> options, std::vector<std::string> link = {"tcp", "0"})
      : process_(Command("proxy", Concat(Concat(link, {"--bind", "127.0.0.1"}), options))) {
    if (process_.WaitForOutput("listening on port ")) {
      std::size_t at = process_.output.find("listening on port ") + 18;
      port_ = std::stoi(process_.output.substr(at));
    }
  }
  int port() const { return port_; }
  std::string Parameters() const { return "\"127.0.0.1\", " + std::to_string(port_); }
  // Interrupts the proxy; returns its exit status.
  int Stop() {
    process_.Signal(SIGINT);
    return process_.Wait();
  }
  ChildProcess& process() { return process_; }

 private:
  static std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }
  ChildProcess process_;
  int port_ = 0;
};

struct CipherCase {
  const char* name;
  std::vector<std::string> proxy_options;
  std::vector<std::string> remote_options;
};

void PrintTo(const CipherCase& c, std::ostream* out) { *out << c.name; }

class RemoteRun : public ::testing::TestWithParam<CipherCase> {
 protected:
  std::string Write(const std::string& name, const std::string& text) {
    std::string path = directory + "/" + name;
    std::ofstream(path) << text;
    return path;
  }
  int Remote(const ServedProxy& proxy, const std::string& file, std::string* output) {
    std::vector<std::string> args = {"tcp", proxy.Parameters(), "--run", file, "--timeout", "60"};
    args.insert(args.end(), GetParam().remote_options.begin(), GetParam().remote_options.end());
    ChildProcess remote(Command("remote", args));
    int status = remote.Wait();
    *output = remote.output + remote.errors;
    return status;
  }
  testing::TemporaryFolder folder;
  std::string directory = folder.path();
};

// The pipeline's verdict is the script's: 0 for a script that passed, 1 for one that failed.
TEST_P(RemoteRun, ExitsWithTheScriptsVerdict) {
  std::vector<std::string> options = GetParam().proxy_options;
  options.insert(options.end(), {"--results-dir", directory + "/results", "--save", directory + "/proxy.settings"});
  ServedProxy proxy(options);
  ASSERT_NE(proxy.port(), 0) << proxy.process().output << proxy.process().errors;
  std::string output;
  EXPECT_EQ(Remote(proxy, Write("pass.odl", "x = 20\ny = x * 2 + 2\nassert(y == 42)\n"), &output), 0) << output;
  EXPECT_NE(output.find("Result: passed"), std::string::npos) << output;
  EXPECT_EQ(Remote(proxy, Write("fail.odl", "assert(1 == 2)\n"), &output), 1) << output;
  EXPECT_NE(output.find("Result: failed"), std::string::npos) << output;
  // A script longer than one read of the stream still arrives whole: its last line decides.
  std::string long_script;
  for (int i = 0; long_script.size() < 20000; ++i) long_script += "n = " + std::to_string(i) + "\n";
  EXPECT_EQ(Remote(proxy, Write("long.odl", long_script + "assert(n == -1)\n"), &output), 1) << output;
  EXPECT_NE(output.find("Result: failed"), std::string::npos) << output;
  EXPECT_EQ(proxy.Stop(), 0);
  EXPECT_NE(proxy.process().output.find(":Script:Start"), std::string::npos) << proxy.process().output;
  EXPECT_FALSE(std::filesystem::is_empty(directory + "/results"));

  // The saved settings serve the same link, key and cipher again.
  std::vector<std::string> again = {"--insecure"};  // needed by the RC4 case only
  ServedProxy reloaded(again, {"--settings", directory + "/proxy.settings"});
  ASSERT_NE(reloaded.port(), 0) << reloaded.process().errors;
  EXPECT_EQ(Remote(reloaded, Write("pass.odl", "assert(true)\n"), &output), 0) << output;
  EXPECT_EQ(reloaded.Stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Ciphers, RemoteRun,
    ::testing::Values(CipherCase{"Authenticated", {"--key", "open sesame"}, {"--key", "open sesame"}},
                      CipherCase{"Insecure", {"--insecure"}, {}},
                      CipherCase{"Rc4ForOldPeers", {"--key", "k", "--cipher", "rc4", "--insecure"}, {"--key", "k", "--cipher", "rc4"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RemoteCommand, AWrongKeyFailsWithoutRunningAnything) {
  ServedProxy proxy({"--key", "right", "--log-level", "fine"});
  ASSERT_NE(proxy.port(), 0);
  testing::TemporaryFolder folder;
  std::string file = folder.path() + "/x.odl";
  std::ofstream(file) << "x = 1\n";
  ChildProcess remote(Command("remote", {"tcp", proxy.Parameters(), "--key", "wrong", "--run", file, "--timeout", "60"}));
  EXPECT_EQ(remote.Wait(), 1);
  EXPECT_NE(remote.errors.find("failed authentication"), std::string::npos) << remote.errors;
  EXPECT_EQ(proxy.Stop(), 0);
  // (Whether the proxy saw the command before the remote gave up depends on timing; that it
  // never ran it does not.)
  EXPECT_EQ(proxy.process().output.find("Connect command received"), std::string::npos);
}

// `ordalis remote` whose output is read slowly: it keeps reading the link, so the proxy gives
// up nothing; it drops the log lines beyond its bound with a note in their place, and the
// verdict still comes.
TEST(RemoteCommand, OutputReadSlowlyLosesLogLinesWithANoteButNeverTheVerdict) {
  testing::TemporaryFolder folder;
  std::string directory = folder.path();
  auto log = std::make_shared<testing::LogRecord>();
  auto proxy = CScriptProxy::Create(nullptr, Pacing{0, 0, 0});
  proxy->SetLocalLog(log);
  ASSERT_EQ(proxy->SaveAs(directory + "/proxy.settings"), S_OK);
  proxy->SetBindAddress("127.0.0.1");
  ASSERT_EQ(proxy->SetSerialParameters("tcp", "0"), S_OK);
  ASSERT_TRUE(log->WaitFor("accepting connection"));
  std::string file = directory + "/chatty.odl";
  std::ofstream(file) << "line = sprintf(\"%80d\", 7)\ni = 0\nwhile i < 25000 do\n  printf(\"%s\", line)\n  i++\nendwhile\n";
  std::string parameters = "\"127.0.0.1\", " + std::to_string(proxy->ListeningPort());
  ChildProcess remote(Command("remote", {"tcp", parameters, "--run", file, "--timeout", "30"}));
  // Nothing of the remote's output is read until the script has held.
  ASSERT_TRUE(log->WaitFor("State changed to ScriptPaused"));
  EXPECT_EQ(remote.Wait(), 0) << remote.errors;
  EXPECT_NE(remote.output.find(" log lines dropped (the output was read more slowly than they came)"),
            std::string::npos);
  EXPECT_NE(remote.output.find("Result: passed"), std::string::npos);
  EXPECT_EQ(proxy->LinkStatus().find("send queue full"), std::string::npos) << proxy->LinkStatus();
  proxy.reset();
}

// A script longer than one message of a message link would arrive cut or not at all; it is
// refused before anything is sent.
TEST(RemoteCommand, RefusesAScriptAMessageLinkCannotCarryWhole) {
  struct Case {
    const char* type;
    const char* parameters;
    std::size_t size;
  };
  testing::TemporaryFolder folder;
  std::string directory = folder.path();
  for (const Case& c : {Case{"tcppkt", "\"127.0.0.1\", 1", 40000}, Case{"udp", "1", 70000}}) {
    std::string file = directory + "/" + c.type + ".odl";
    std::ofstream(file) << std::string(c.size, ' ') << "assert(false)\n";
    ChildProcess remote(Command("remote", {c.type, c.parameters, "--run", file, "--timeout", "1"}));
    EXPECT_EQ(remote.Wait(), 2) << c.type << remote.errors;
    EXPECT_NE(remote.errors.find("bytes one message of a " + std::string(c.type) + " link carries"), std::string::npos)
        << remote.errors;
  }
}

// Without --insecure a network link needs the authenticated cipher; with it, every
// connection is warned about, and plain commands typed at `ordalis remote` work.
TEST(ProxyCommand, ANetworkLinkNeedsAnAuthenticatedKeyOrInsecure) {
  for (std::vector<std::string> args : {std::vector<std::string>{"tcp", "0"},
                                        std::vector<std::string>{"tcp", "0", "--key", "k", "--cipher", "rc4"},
                                        std::vector<std::string>{"udp", "0"}}) {
    ChildProcess refused(Command("proxy", args));
    EXPECT_EQ(refused.Wait(), 2);
    EXPECT_NE(refused.errors.find("--insecure"), std::string::npos) << refused.errors;
  }
  ServedProxy proxy({"--insecure"});
  ASSERT_NE(proxy.port(), 0);
  ChildProcess remote(Command("remote", {"tcp", proxy.Parameters(), "--timeout", "60"}));
  remote.Write("connect\nscript:x = 41 + 1\nvariable:x\nvariable:nothing\ndisconnect\n");
  EXPECT_EQ(remote.Wait(), 1);  // one command was answered "error"
  EXPECT_NE(remote.output.find("Reply: OK\n"), std::string::npos) << remote.output;
  EXPECT_NE(remote.output.find("Result: passed\n"), std::string::npos) << remote.output;
  EXPECT_NE(remote.output.find("Reply: 42\n"), std::string::npos) << remote.output;
  EXPECT_NE(remote.output.find("Reply: error\n"), std::string::npos) << remote.output;
  EXPECT_EQ(proxy.Stop(), 0);
  EXPECT_NE(proxy.process().output.find("Connected without an authenticated key"), std::string::npos);
}

struct UsageCase {
  const char* command;
  std::vector<std::string> args;
  int status;
  const char* message;
};

void PrintTo(const UsageCase& c, std::ostream* out) { *out << c.command << ::testing::PrintToString(c.args); }

class Usage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(Usage, ReportsTheProblem) {
  ChildProcess process(Command(GetParam().command, GetParam().args));
  EXPECT_EQ(process.Wait(), GetParam().status);
  EXPECT_NE((process.output + process.errors).find(GetParam().message), std::string::npos) << process.errors;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, Usage,
    ::testing::Values(UsageCase{"proxy", {"--help"}, 0, "Usage: ordalis proxy TYPE PARAMETERS"},
                      UsageCase{"remote", {"--help"}, 0, "Usage: ordalis remote TYPE PARAMETERS"},
                      UsageCase{"proxy", {}, 2, "give TYPE and PARAMETERS, or --settings FILE"},
                      UsageCase{"proxy", {"tcp", "0", "--cipher", "des"}, 2, "unknown cipher 'des'"},
                      UsageCase{"proxy", {"--settings", "/nonexistent/proxy.settings"}, 2, "cannot open the settings file"},
                      UsageCase{"proxy", {"modem", "1", "--insecure"}, 1, "could not open the modem link"},
                      UsageCase{"remote", {"tcp"}, 2, "give TYPE and PARAMETERS"},
                      UsageCase{"remote", {"tcp", "\"localhost\", 1", "--run", "/nonexistent.odl"}, 2, "cannot open"},
                      UsageCase{"remote", {"tcp", "1, [", "--timeout", "1"}, 2, "not script literals"},
                      UsageCase{"remote", {"tcp", "\"127.0.0.1\", 1", "--timeout", "1"}, 1, "no connection within 1 s"}),
    [](const auto& info) { return std::to_string(info.index); });

}  // namespace
}  // namespace ordalis
