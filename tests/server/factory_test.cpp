#include "server/factory.h"

#include <gtest/gtest.h>

namespace ordalis {
namespace {

TEST(Factory, MakesTheCreatableClassesByProgrammaticIdentifier) {
  std::shared_ptr<IUnknown> object;
  ASSERT_EQ(CreateInstance("Ordalis.ScriptItem", &object), S_OK);
  auto item = std::dynamic_pointer_cast<IScriptItem>(object);
  ASSERT_TRUE(item);
  std::string text;
  item->get_Text(&text);
  EXPECT_EQ(text, "Unknown");
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  item.reset();
  object.reset();
  EXPECT_EQ(CanUnloadNow(), S_OK);

  ASSERT_EQ(CreateInstance("ordalis.testerutilities.1", &object), S_OK);
  EXPECT_TRUE(std::dynamic_pointer_cast<ITesterUtilities1>(object));
  object.reset();
  ASSERT_EQ(CreateInstance("Ordalis.ScriptProxy.1", &object), S_OK);
  auto proxy = std::dynamic_pointer_cast<IScriptProxy>(object);
  ASSERT_TRUE(proxy);
  std::shared_ptr<IScript> script;
  EXPECT_EQ(proxy->get_Script(&script), S_OK);
  EXPECT_TRUE(script);
  script.reset();
  proxy.reset();
  object.reset();
  EXPECT_EQ(CanUnloadNow(), S_OK);
  EXPECT_EQ(CreateInstance("Ordalis.Nothing", &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_FALSE(object);
  EXPECT_EQ(CreateInstance("Ordalis.Script", nullptr), E_POINTER);
}

}  // namespace
}  // namespace ordalis
