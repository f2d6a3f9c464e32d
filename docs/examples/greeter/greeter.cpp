// greeter: a complete small tester plug-in. Scripts write
//
//   g = new greeter("Hello")
//   g.Greet("world")                  # passes, returns "Hello, world!"
//   g.Expect("world", "Hi, world!")   # fails: the greeting differs
//
// Build it as a MODULE library against the Ordalis SDK headers (see docs/plugins.md).

#include <string>

#include "ordalis/tester_plugin.h"

namespace {

using ordalis::Result;
using ordalis::Variant;
using ordalis::plugin::Call;

class Greeter : public ordalis::plugin::Tester<Greeter> {
 public:
  static constexpr const char* kType = "greeter";
  static constexpr const char* kVersion = "1.2";

  static const ActionTable& Actions() {
    static const ActionTable table = {
        {"Greet", "Returns the greeting for a name", {"name"}, {"greeting"}, &Greeter::Greet},
        {"Expect", "Passes when the greeting for a name is the expected text",
         {"name", "expected"}, {"greeting"}, &Greeter::Expect},
    };
    return table;
  }

 protected:
  // new greeter(word): the word to greet with, "Hello" when left out.
  bool OnOpen(Call& constructor) override {
    if (constructor.Count() > 0) word_ = constructor.Text(0);
    return !word_.empty();
  }
  std::string Description() const override { return "Greets people by name"; }
  std::string ConstructorDescription() const override { return "The word to greet with"; }
  ordalis::TextArray ConstructorParameters() const override { return {"word"}; }

 private:
  std::string GreetingFor(const std::string& name) const { return word_ + ", " + name + "!"; }

  Result Greet(Call& call) {
    std::string greeting = GreetingFor(call.Text(0));
    call.Log(ordalis::information, greeting);
    call.Return(Variant::String(greeting));
    return ordalis::TestPassed;
  }

  Result Expect(Call& call) {
    std::string greeting = GreetingFor(call.Text(0));
    call.Return(Variant::String(greeting));
    return greeting == call.Text(1) ? ordalis::TestPassed : ordalis::TestFailed;
  }

  std::string word_ = "Hello";
};

}  // namespace

ORDALIS_PLUGIN(registry) {
  registry.AddTesterCreator<Greeter>("{CCC62904-8CB2-4C7F-8EE4-1DFCD693752E}");
}
