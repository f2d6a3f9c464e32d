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
  EXPECT_EQ(CreateInstance("Ordalis.Nothing", &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_FALSE(object);
  EXPECT_EQ(CreateInstance("Ordalis.Script", nullptr), E_POINTER);
}

}  // namespace
}  // namespace ordalis
