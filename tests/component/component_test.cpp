// A client of the shipped component: this program links libordalis.so and sees nothing but the
// SDK headers, as a third-party client does. It checks that the exported surface is enough to
// make the objects, cast them to their interfaces across the library boundary and use them.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ordalis/component.h"

namespace ordalis {
namespace {

namespace fs = std::filesystem;

class ComponentClient : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    directory_ = new fs::path(fs::temp_directory_path() /
                              ("ordalis_component_" + std::to_string(::getpid())));
    fs::create_directories(*directory_);
    // The script object's application manager must not touch the machine's real settings.
    ::setenv("ORDALIS_MACHINE_SETTINGS", (*directory_ / "machine.json").c_str(), 1);
    ::setenv("ORDALIS_USER_SETTINGS", (*directory_ / "user.json").c_str(), 1);
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    fs::remove_all(*directory_, ignored);
    delete directory_;
  }

  template <typename Interface>
  std::shared_ptr<Interface> Make(const std::string& progid) {
    std::shared_ptr<IUnknown> object;
    EXPECT_EQ(CreateInstance(progid, &object), S_OK) << progid;
    return std::dynamic_pointer_cast<Interface>(object);
  }

  static fs::path* directory_;
};

fs::path* ComponentClient::directory_ = nullptr;

TEST_F(ComponentClient, LoadsAScriptAndWalksItsTree) {
  fs::path script_file = *directory_ / "client.odl";
  std::ofstream(script_file) << "x = 1\nif x == 1 then\n  y = \"one\"\nendif\n";
  auto script = Make<IScript>("Ordalis.Script");
  ASSERT_TRUE(script);
  VariantBool loaded = kVariantFalse;
  ASSERT_EQ(script->Load(script_file.string(), &loaded), S_OK);
  EXPECT_EQ(loaded, kVariantTrue);

  std::shared_ptr<IScriptItem> root;
  ASSERT_EQ(script->get_Item(&root), S_OK);
  ASSERT_TRUE(root);
  std::uint32_t count = 0;
  root->get_ChildCount(&count);
  ASSERT_EQ(count, 2u);
  std::shared_ptr<IScriptItem> branch;
  ASSERT_EQ(root->get_Children(1, &branch), S_OK);
  ItemType type = errorItem;
  branch->get_Type(&type);
  EXPECT_STREQ(ItemTypeName(type), "ifItem");
  std::shared_ptr<IScriptItem> assignment;
  ASSERT_EQ(root->get_Children(0, &assignment), S_OK);
  std::string text;
  assignment->get_ScriptText(&text);
  EXPECT_EQ(text, "x = 1");
}

TEST_F(ComponentClient, ReadsValueTextsAndCountsLiveObjects) {
  auto utilities = Make<ITesterUtilities1>("ordalis.testerutilities.1");
  ASSERT_TRUE(utilities);
  VariantArrayPtr values;
  ASSERT_EQ(utilities->VariableValue("1, \"two\", [3]", &values), S_OK);
  ASSERT_TRUE(values);
  ASSERT_EQ(values->size(), 3u);
  EXPECT_EQ((*values)[1].as_string(), "two");
  EXPECT_TRUE((*values)[2].is_array());
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  utilities.reset();
  EXPECT_EQ(CanUnloadNow(), S_OK);

  std::shared_ptr<IUnknown> object;
  EXPECT_EQ(CreateInstance("Ordalis.Nothing", &object), CLASS_E_CLASSNOTAVAILABLE);
}

}  // namespace
}  // namespace ordalis
