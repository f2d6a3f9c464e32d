// The results mail of a finished script run, through a real SMTP server.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "engine/script.h"
#include "settings/application_manager.h"
#include "settings/manager.h"
#include "test_servers.h"
#include "support/temporary_folder.h"

namespace ordalis {
namespace {

using testing::Addresses;
using testing::MessageRecord;

class RunEnd : public IScriptEventsClient {
 public:
  void Executed(ScriptItem*) override {}
  void ResultsReset() override {}
  void Started() override { started_ = true; }
  void Reset() override {}
  void StateChanged(ScriptState state) override {
    if (state == ScriptNotRunning && started_) ended.Set();
  }
  Event ended;

 private:
  std::atomic<bool> started_{false};
};

// The settings store is one per process: this test program points it at files of its own,
// once, before the first use.
void UseOwnSettings() {
  static const testing_support::TemporaryFolder folder("ordalis-mail-");  // removed at exit
  static const bool pointed = [] {
    setenv("ORDALIS_MACHINE_SETTINGS", (folder.path() + "/machine.json").c_str(), 1);
    setenv("ORDALIS_USER_SETTINGS", (folder.path() + "/user.json").c_str(), 1);
    return true;
  }();
  (void)pointed;
}

TEST(RunMail, AFinishedRunMailsItsSummaryWithTheResultsAttached) {
  testing::RecordingServer server;
  ASSERT_TRUE(server.started()) << server.error();
  std::string directory = testing::MakeTempDirectory();
  UseOwnSettings();
  auto manager = std::make_shared<CApplicationManager>();
  ASSERT_EQ(manager->put_SMTPServerName(server.server_name()), S_OK);
  ASSERT_EQ(manager->put_EmailAddresses("qa@example.com"), S_OK);

  std::string script_path = directory + "/run.odl";
  std::ofstream(script_path) << "t = new echo()\n"
                                "result \"Echo works\" v = t.Echo(1)\n"
                                "result \"Fails on purpose\" w = t.Fail()\n";
  auto script = CScript::Create(manager, Pacing{0, 0, 0});
  auto end = std::make_shared<RunEnd>();
  script->SetScriptEventsClient(end);
  script->put_EmailAddress("lead@example.com");
  VariantBool loaded;
  script->Load(script_path, &loaded);
  script->Run();
  ASSERT_TRUE(end->ended.Wait(30000));

  std::optional<MessageRecord> record = server.Record(1);
  ASSERT_TRUE(record) << "no mail arrived";
  EXPECT_EQ(record->rcpt_tos, (Addresses{"qa@example.com", "lead@example.com"}));
  std::string raw = server.RawMessage(1);
  EXPECT_NE(raw.find("\r\nSubject: Results for script run.odl Failed\r\n"), std::string::npos) << raw;
  std::vector<std::string> parts = server.Parts(1);
  ASSERT_EQ(parts.size(), 5u) << "the body and four attachments";
  const std::string& body = parts[0];
  EXPECT_EQ(body.rfind("Overall Script Result Failed", 0), 0u) << body;
  EXPECT_NE(body.find("| Passed | Failed | Not Imp| Warn   | Error  | % Pass | Test Result"),
            std::string::npos);
  EXPECT_NE(body.find("|      1 |      0 |      0 |      0 |      0 |    100 | Echo works"),
            std::string::npos) << body;
  EXPECT_NE(body.find("|      0 |      1 |      0 |      0 |      0 |      0 | Fails on purpose"),
            std::string::npos) << body;
  std::string xml = script->results_xml_path();
  EXPECT_EQ(record->part_names.at(1), std::filesystem::path(xml).filename().string());
  EXPECT_EQ(record->part_names.at(2), "Ordalis4_2.xsd");
  EXPECT_EQ(record->part_names.at(3), "Ordalis4_2.xsl");
  std::ifstream in(xml, std::ios::binary);
  std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(parts[1], written) << "the results document arrives byte for byte";
  script.reset();
  std::filesystem::remove_all(directory);
}

TEST(RunMail, AServerThatCannotBeReachedIsNotedAndTheRunStillEnds) {
  std::string directory = testing::MakeTempDirectory();
  UseOwnSettings();
  auto manager = std::make_shared<CApplicationManager>();
  manager->put_SMTPServerName("127.0.0.1:" + std::to_string(testing::ClosedPort()));
  manager->put_EmailAddresses("qa@example.com");
  std::string script_path = directory + "/quiet.odl";
  std::ofstream(script_path) << "passed\n";
  auto script = CScript::Create(manager, Pacing{0, 0, 0});
  auto end = std::make_shared<RunEnd>();
  script->SetScriptEventsClient(end);
  VariantBool loaded;
  script->Load(script_path, &loaded);
  script->Run();
  ASSERT_TRUE(end->ended.Wait(60000));
  std::string log = script->results_xml_path();
  log = log.substr(0, log.size() - 3) + "log";
  std::ifstream in(log);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("Failed to connect to email server 127.0.0.1:"), std::string::npos) << text;
  script.reset();
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace ordalis
