// Simulated instruments for the examples: a multimeter, a bench power supply and a device
// under test with a serial-like command set. Readings carry a small noise drawn from a
// generator seeded by the constructor's seed parameter, so a script gives the same readings
// on every run with the same seed.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "ordalis/tester_plugin.h"

namespace {

using ordalis::Result;
using ordalis::TestFailed;
using ordalis::TestPassed;
using ordalis::Variant;
using ordalis::plugin::Call;

// A small deterministic generator (64-bit linear congruential, high bits out).
class Noise {
 public:
  void Seed(std::uint64_t seed) { state_ = seed * 6364136223846793005ULL + 1442695040888963407ULL; }
  // A value in [-1, 1).
  double Next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state_ >> 11) / 4503599627370496.0 - 1.0;
  }

 private:
  std::uint64_t state_ = 0;
};

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// Rounds [value] to [decimals] places, as an instrument display would.
double Round(double value, int decimals) {
  double scale = std::pow(10.0, decimals);
  return std::round(value * scale) / scale;
}

// Shared by the three instruments: the seed constructor parameter.
bool SeedFrom(Call& constructor, Noise& noise, std::mutex& mutex) {
  auto seed = constructor.Count() == 0 ? std::optional<std::int64_t>(1) : constructor.Int(0);
  if (!seed) {
    constructor.Log(ordalis::severe, "The seed must be an integer");
    return false;
  }
  std::lock_guard lock(mutex);
  noise.Seed(static_cast<std::uint64_t>(*seed));
  return true;
}

// multimeter(seed): measures the nominal value set for a function, with noise of 0.1 %.
class Multimeter : public ordalis::plugin::Tester<Multimeter> {
 public:
  static constexpr const char* kType = "multimeter";
  static constexpr const char* kVersion = "1.0";

  static const ActionTable& Actions() {
    static const ActionTable table = {
        {"SetNominal", "Sets the true value the meter sees for a function (DCV, ACV, DCI, RES)",
         {"function", "value"}, {}, &Multimeter::SetNominal},
        {"Measure", "Measures a function and returns the reading", {"function"}, {"reading"},
         &Multimeter::Measure},
        {"Check", "Measures a function; passes when the reading lies within [low, high]",
         {"function", "low", "high"}, {"reading"}, &Multimeter::Check},
    };
    return table;
  }

 protected:
  bool OnOpen(Call& constructor) override { return SeedFrom(constructor, noise_, mutex_); }
  std::string Description() const override {
    return "Simulated digital multimeter: DCV, ACV, DCI and RES readings with 0.1 % noise";
  }
  std::string ConstructorDescription() const override {
    return "Optional integer seed of the reading noise (default 1); the same seed gives the same "
           "readings";
  }
  ordalis::TextArray ConstructorParameters() const override { return {"seed"}; }

 private:
  // The unit a function reads in.
  static const char* UnitOf(const std::string& function) {
    if (function == "DCI") return "A";
    if (function == "RES") return "\u03A9";
    return "V";
  }

  static bool KnownFunction(const std::string& function) {
    return function == "DCV" || function == "ACV" || function == "DCI" || function == "RES";
  }

  Result SetNominal(Call& call) {
    auto value = call.Number(1);
    if (!KnownFunction(call.Text(0)) || !value) {
      call.Log(ordalis::severe, "SetNominal needs a function (DCV, ACV, DCI, RES) and a value");
      return ordalis::TestError;
    }
    std::lock_guard lock(mutex_);
    nominal_[call.Text(0)] = *value;
    return TestPassed;
  }

  // Takes one reading of [function] into [reading]; false for an unknown function.
  bool Read(Call& call, double* reading) {
    std::string function = call.Text(0);
    if (!KnownFunction(function)) {
      call.Log(ordalis::severe, "Unknown function '" + function + "'");
      return false;
    }
    std::lock_guard lock(mutex_);
    double nominal = nominal_.count(function) ? nominal_[function] : 0.0;
    *reading = Round(nominal + nominal * 0.001 * noise_.Next(), 4);
    return true;
  }

  Result Measure(Call& call) {
    double reading = 0;
    if (!Read(call, &reading)) return ordalis::TestError;
    call.Return(Variant::Double(reading));
    call.Log(ordalis::information, call.Text(0) + " " + Fixed(reading, 4));
    return TestPassed;
  }

  Result Check(Call& call) {
    auto low = call.Number(1);
    auto high = call.Number(2);
    double reading = 0;
    if (!low || !high || !Read(call, &reading)) return ordalis::TestError;
    call.Return(Variant::Double(reading));
    // The reading is reported as a measurement named by the function, judged by its limits.
    const bool inside =
        call.Measure(call.Text(0), reading, UnitOf(call.Text(0))).Between(*low, *high).result == TestPassed;
    call.Log(inside ? ordalis::information : ordalis::warning,
             call.Text(0) + " " + Fixed(reading, 4) + (inside ? " within " : " outside ") + "[" +
                 Fixed(*low, 4) + ", " + Fixed(*high, 4) + "]");
    return inside ? TestPassed : TestFailed;
  }

  std::mutex mutex_;
  Noise noise_;
  std::map<std::string, double> nominal_;
};

// powersupply(seed): one output channel with a voltage setting, a current limit and a fixed
// 100 ohm load; measurements carry 2 mV and 0.5 mA of noise.
class PowerSupply : public ordalis::plugin::Tester<PowerSupply> {
 public:
  static constexpr const char* kType = "powersupply";
  static constexpr const char* kVersion = "1.0";
  static constexpr double kMaxVolts = 30.0;
  static constexpr double kLoadOhms = 100.0;

  static const ActionTable& Actions() {
    static const ActionTable table = {
        {"SetVoltage", "Sets the output voltage (0 to 30 V); fails outside that range", {"volts"},
         {}, &PowerSupply::SetVoltage},
        {"SetCurrentLimit", "Sets the current limit in amperes", {"amperes"}, {},
         &PowerSupply::SetCurrentLimit},
        {"Output", "Switches the output on (true) or off (false)", {"on"}, {},
         &PowerSupply::Output},
        {"MeasureVoltage", "Returns the output voltage", {}, {"volts"},
         &PowerSupply::MeasureVoltage},
        {"MeasureCurrent", "Returns the output current into the load", {}, {"amperes"},
         &PowerSupply::MeasureCurrent},
    };
    return table;
  }

 protected:
  bool OnOpen(Call& constructor) override { return SeedFrom(constructor, noise_, mutex_); }
  bool OnClose() override {
    std::lock_guard lock(mutex_);
    on_ = false;
    return true;
  }
  std::string Description() const override {
    return "Simulated bench power supply, one channel, 0-30 V, into a 100 ohm load";
  }
  std::string ConstructorDescription() const override {
    return "Optional integer seed of the measurement noise (default 1)";
  }
  ordalis::TextArray ConstructorParameters() const override { return {"seed"}; }

 private:
  Result SetVoltage(Call& call) {
    auto volts = call.Number(0);
    if (!volts || *volts < 0 || *volts > kMaxVolts) {
      call.Log(ordalis::warning, "Voltage out of range 0 to 30 V");
      return TestFailed;
    }
    std::lock_guard lock(mutex_);
    volts_ = *volts;
    return TestPassed;
  }

  Result SetCurrentLimit(Call& call) {
    auto amperes = call.Number(0);
    if (!amperes || *amperes < 0) return TestFailed;
    std::lock_guard lock(mutex_);
    limit_ = *amperes;
    return TestPassed;
  }

  Result Output(Call& call) {
    auto on = call.Bool(0);
    if (!on) return ordalis::TestError;
    std::lock_guard lock(mutex_);
    on_ = *on;
    return TestPassed;
  }

  // The output voltage the load sees: the setting, or less when the current limit holds it.
  double OutputVolts() const {
    if (!on_) return 0.0;
    return std::min(volts_, limit_ * kLoadOhms);
  }

  Result MeasureVoltage(Call& call) {
    std::lock_guard lock(mutex_);
    double volts = on_ ? Round(OutputVolts() + 0.002 * noise_.Next(), 3) : 0.0;
    call.Return(Variant::Double(volts));
    // Log-only, left unnamed: the script's result label (or the action's name) names it.
    call.Measure("", volts, "V");
    return TestPassed;
  }

  Result MeasureCurrent(Call& call) {
    std::lock_guard lock(mutex_);
    double amperes = on_ ? Round(OutputVolts() / kLoadOhms + 0.0005 * noise_.Next(), 4) : 0.0;
    call.Return(Variant::Double(amperes));
    call.Measure("", amperes, "A");
    return TestPassed;
  }

  std::mutex mutex_;
  Noise noise_;
  double volts_ = 0.0;
  double limit_ = 1.0;
  bool on_ = false;
};

// dut(seed): a device under test answering a serial-like command set.
class DeviceUnderTest : public ordalis::plugin::Tester<DeviceUnderTest> {
 public:
  static constexpr const char* kType = "dut";
  static constexpr const char* kVersion = "1.0";

  static const ActionTable& Actions() {
    static const ActionTable table = {
        {"Send",
         "Sends a command line and returns the reply: *IDN?, *RST, PING, TEMP?, MODE?, MODE <name>, "
         "ECHO <text>, ERR?; an unknown command fails with an error reply",
         {"command"}, {"reply"}, &DeviceUnderTest::Send},
        {"Query", "Sends a command; passes when the reply equals the expected text",
         {"command", "expected"}, {"reply"}, &DeviceUnderTest::Query},
    };
    return table;
  }

 protected:
  bool OnOpen(Call& constructor) override {
    if (!SeedFrom(constructor, noise_, mutex_)) return false;
    std::lock_guard lock(mutex_);
    serial_ = "SN" + std::to_string(100000 + static_cast<int>((noise_.Next() + 1.0) * 450000));
    return true;
  }
  std::string Description() const override {
    return "Simulated device under test with a serial-like command set";
  }
  std::string ConstructorDescription() const override {
    return "Optional integer seed (default 1): fixes the serial number and the temperature "
           "readings";
  }
  ordalis::TextArray ConstructorParameters() const override { return {"seed"}; }

 private:
  // The reply to [command]; false for a command the device does not know.
  bool Answer(const std::string& command, std::string* reply) {
    std::lock_guard lock(mutex_);
    if (command == "*IDN?") {
      *reply = "Marrowind,DemoDUT," + serial_ + ",1.0";
    } else if (command == "*RST") {
      mode_ = "IDLE";
      *reply = "OK";
    } else if (command == "PING") {
      *reply = "PONG";
    } else if (command == "TEMP?") {
      *reply = Fixed(25.0 + 0.5 * noise_.Next(), 1);
    } else if (command == "MODE?") {
      *reply = mode_;
    } else if (command.rfind("MODE ", 0) == 0 && command.size() > 5) {
      mode_ = command.substr(5);
      *reply = "OK";
    } else if (command.rfind("ECHO ", 0) == 0) {
      *reply = command.substr(5);
    } else if (command == "ERR?") {
      *reply = last_error_;
      last_error_ = "0,No error";
    } else {
      last_error_ = "-100,Command error";
      *reply = "ERR -100 Command error";
      return false;
    }
    return true;
  }

  Result Send(Call& call) {
    std::string reply;
    bool known = Answer(call.Text(0), &reply);
    call.Log(ordalis::fine, "> " + call.Text(0) + " < " + reply);
    call.Return(Variant::String(reply));
    return known ? TestPassed : TestFailed;
  }

  Result Query(Call& call) {
    std::string reply;
    bool known = Answer(call.Text(0), &reply);
    call.Return(Variant::String(reply));
    return known && reply == call.Text(1) ? TestPassed : TestFailed;
  }

  std::mutex mutex_;
  Noise noise_;
  std::string serial_ = "SN000000";
  std::string mode_ = "IDLE";
  std::string last_error_ = "0,No error";
};

}  // namespace

ORDALIS_PLUGIN(registry) {
  registry.AddTesterCreator<Multimeter, PowerSupply, DeviceUnderTest>(
      "{E79B5A99-0E41-4A6D-954C-4E9ED8486377}");
}
