// The simulated instruments: deterministic for a seed, plausible readings, the serial-like
// command set of the device under test.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "testers/tester_proxy.h"
#include "testers/testers.h"

namespace ordalis {
namespace {

VariantArrayPtr Values(VariantArray values) { return std::make_shared<VariantArray>(std::move(values)); }

std::shared_ptr<TesterProxy> Open(const std::string& type, VariantArray constructor) {
  std::string message;
  auto tester = Testers::Instance().Create(type, &message);
  EXPECT_TRUE(tester) << message;
  if (!tester) return nullptr;
  VariantBool opened = kVariantFalse;
  EXPECT_EQ(tester->Open(Values(std::move(constructor)), &opened), S_OK);
  EXPECT_EQ(opened, kVariantTrue) << type;
  return tester;
}

// Calls action [name] and gives its result; the first value lands in [first].
Result Call(TesterProxy& tester, const std::string& name, VariantArray parameters,
            Variant* first = nullptr) {
  std::uint32_t count = 0;
  tester.get_ActionCount(&count);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string action;
    tester.get_Actions(i, &action);
    if (action != name) continue;
    VariantArrayPtr values;
    Result result = TestError;
    EXPECT_EQ(tester.Execute(i, Values(std::move(parameters)), &values, &result), S_OK) << name;
    if (first && values && !values->empty()) *first = (*values)[0];
    return result;
  }
  ADD_FAILURE() << "no action " << name;
  return TestError;
}

std::vector<double> Readings(int seed) {
  auto meter = Open("multimeter", {Variant::Int(seed)});
  if (!meter) return {};
  EXPECT_EQ(Call(*meter, "SetNominal", {Variant::String("DCV"), Variant::Double(5.0)}), TestPassed);
  std::vector<double> readings;
  for (int i = 0; i < 5; ++i) {
    Variant reading;
    EXPECT_EQ(Call(*meter, "Measure", {Variant::String("DCV")}, &reading), TestPassed);
    readings.push_back(reading.as_double());
  }
  return readings;
}

TEST(DemoMultimeter, SameSeedSameReadingsCloseToNominal) {
  auto first = Readings(7);
  EXPECT_EQ(first, Readings(7));
  EXPECT_NE(first, Readings(8));
  for (double reading : first) EXPECT_NEAR(reading, 5.0, 0.006);
  auto meter = Open("multimeter", {});
  Call(*meter, "SetNominal", {Variant::String("RES"), Variant::Int(1000)});
  EXPECT_EQ(Call(*meter, "Check", {Variant::String("RES"), Variant::Int(990), Variant::Int(1010)}), TestPassed);
  EXPECT_EQ(Call(*meter, "Check", {Variant::String("RES"), Variant::Int(0), Variant::Int(10)}), TestFailed);
  EXPECT_EQ(Call(*meter, "Measure", {Variant::String("OHMS")}), TestError);
}

TEST(DemoPowerSupply, OutputFollowsSettingAndCurrentLimit) {
  auto supply = Open("powersupply", {Variant::Int(3)});
  Variant volts;
  EXPECT_EQ(Call(*supply, "SetVoltage", {Variant::Double(12.0)}), TestPassed);
  EXPECT_EQ(Call(*supply, "MeasureVoltage", {}, &volts), TestPassed);
  EXPECT_EQ(volts.as_double(), 0.0) << "output off";
  EXPECT_EQ(Call(*supply, "Output", {Variant::Bool(true)}), TestPassed);
  Call(*supply, "MeasureVoltage", {}, &volts);
  EXPECT_NEAR(volts.as_double(), 12.0, 0.003);
  Variant amperes;
  Call(*supply, "MeasureCurrent", {}, &amperes);
  EXPECT_NEAR(amperes.as_double(), 0.12, 0.001);
  EXPECT_EQ(Call(*supply, "SetCurrentLimit", {Variant::Double(0.05)}), TestPassed);
  Call(*supply, "MeasureVoltage", {}, &volts);
  EXPECT_NEAR(volts.as_double(), 5.0, 0.003) << "the limit holds the voltage down";
  EXPECT_EQ(Call(*supply, "SetVoltage", {Variant::Double(31.0)}), TestFailed);
}

TEST(DemoDeviceUnderTest, AnswersItsCommandSet) {
  auto dut = Open("dut", {Variant::Int(11)});
  struct Row {
    const char* command;
    Result result;
    const char* reply;  // null: not checked
  };
  const std::vector<Row> rows = {
      {"PING", TestPassed, "PONG"},        {"MODE?", TestPassed, "IDLE"},
      {"MODE TEST", TestPassed, "OK"},     {"MODE?", TestPassed, "TEST"},
      {"ECHO a b", TestPassed, "a b"},     {"FLY", TestFailed, "ERR -100 Command error"},
      {"ERR?", TestPassed, "-100,Command error"}, {"ERR?", TestPassed, "0,No error"},
      {"*RST", TestPassed, "OK"},          {"MODE?", TestPassed, "IDLE"},
      {"TEMP?", TestPassed, nullptr},
  };
  for (const Row& row : rows) {
    Variant reply;
    EXPECT_EQ(Call(*dut, "Send", {Variant::String(row.command)}, &reply), row.result) << row.command;
    if (row.reply) {
      EXPECT_EQ(reply.as_string(), row.reply) << row.command;
    }
  }
  Variant id, again;
  Call(*dut, "Send", {Variant::String("*IDN?")}, &id);
  Call(*Open("dut", {Variant::Int(11)}), "Send", {Variant::String("*IDN?")}, &again);
  EXPECT_EQ(id.as_string(), again.as_string());
  EXPECT_EQ(id.as_string().rfind("Marrowind,DemoDUT,SN", 0), 0u) << id.as_string();
  EXPECT_EQ(Call(*dut, "Query", {Variant::String("PING"), Variant::String("PONG")}), TestPassed);
  EXPECT_EQ(Call(*dut, "Query", {Variant::String("PING"), Variant::String("PANG")}), TestFailed);
}

TEST(DemoInstruments, RefuseASeedThatIsNoInteger) {
  for (const char* type : {"multimeter", "powersupply", "dut"}) {
    std::string message;
    auto tester = Testers::Instance().Create(type, &message);
    ASSERT_TRUE(tester) << message;
    VariantBool opened = kVariantTrue;
    EXPECT_EQ(tester->Open(Values({Variant::String("x")}), &opened), S_OK);
    EXPECT_EQ(opened, kVariantFalse) << type;
    std::string description;
    EXPECT_EQ(tester->get_Description(&description), S_OK);
    EXPECT_FALSE(description.empty()) << type;
  }
}

}  // namespace
}  // namespace ordalis
