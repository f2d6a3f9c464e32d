// `ordalis testers`: the listing of the catalogue, as a user sees it.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "support/command_line.h"

namespace ordalis {
namespace {

using Output = testing_support::CommandOutcome;

// Standard output only: the listing must parse as it is printed.
Output RunTesters(const std::string& arguments) {
  return testing_support::RunCommandLine(std::string(ORDALIS_BINARY_DIR) + "/ordalis testers " + arguments +
                                         " 2>/dev/null");
}

TEST(CmdTesters, JsonListsEveryTypeWithModuleVersionAndActions) {
  Output output = RunTesters("--json");
  ASSERT_EQ(output.status, 0);
  auto types = nlohmann::json::parse(output.output, nullptr, false);
  ASSERT_TRUE(types.is_array()) << output.output;
  const nlohmann::json* echo = nullptr;
  for (const auto& type : types) {
    if (type.value("type", "") == "echo") echo = &type;
  }
  ASSERT_TRUE(echo) << output.output;
  EXPECT_EQ((*echo)["creator"], "{AE96A215-DD09-45A8-9075-26D1616B16E9}");
  EXPECT_NE((*echo)["module"].get<std::string>().find("echo.so"), std::string::npos);
  EXPECT_EQ((*echo)["version"], "1.0");
  ASSERT_EQ((*echo)["actions"].size(), 9u);
  EXPECT_EQ((*echo)["actions"][4]["name"], "Wait");
  EXPECT_EQ((*echo)["actions"][4]["inParameters"], nlohmann::json::array({"ms"}));
  EXPECT_FALSE((*echo)["actions"][4]["description"].get<std::string>().empty());
}

TEST(CmdTesters, TextHelpAndUsageErrors) {
  Output text = RunTesters("");
  EXPECT_EQ(text.status, 0);
  EXPECT_NE(text.output.find("multimeter"), std::string::npos);
  EXPECT_NE(text.output.find("Wait(ms)"), std::string::npos);
  Output help = RunTesters("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("Usage: ordalis testers"), std::string::npos);
  EXPECT_EQ(RunTesters("--bogus").status, 2);
}

}  // namespace
}  // namespace ordalis
