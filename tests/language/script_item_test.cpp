// ScriptItem: source text of every item kind, the error lines of malformed items, and the
// status codes, result records, counters, breakpoints and current parent of IScriptItem.

#include <gtest/gtest.h>

#include <thread>

#include "tree_notation.h"

namespace ordalis {
namespace {

using testing::LoadedText;

struct TextCase {
  const char* script;
  const char* text;  // ScriptText of the first statement
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.script; }

class ScriptTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(ScriptTextTest, RegeneratesSource) {
  ScriptItemPtr root = LoadedText(GetParam().script);
  ASSERT_GT(root->child_count(), 0u);
  std::string text;
  EXPECT_EQ(root->child(0)->get_ScriptText(&text), S_OK);
  EXPECT_EQ(text, GetParam().text);
}

const TextCase kTexts[] = {
    {"x = a + b * 2", "x = a + ( b * 2 )"},
    {"x = (a + b) * 2", "x = ( a + b ) * 2"},
    {"x = a < 1 or b", "x = ( a < 1 ) or b"},
    {"if a < 1 or b then endif", "if"},
    {"x = tester.read(1, n)", "x = tester.read( 1 , n )"},
    {"t.go()", "t.go( )"},
    {"t:go(1)", "t:go( 1 )"},
    {"t = new Meter(port, 2)", "t = new Meter( port , 2 )"},
    {"t = new Meter()", "t = new Meter( )"},
    // No comma is written before an arithmetic value.
    {"x = 1, 2 + 3, [4, 5]", "x = 12 + 3 , [ 4 , 5 ]"},
    {"x = []", "x = [  ]"},
    {"x = \"s\" \"t\"", "x = \"st\""},
    {"delete t", "delete t"},
    {"i++", "i++"},
    {"a[1]--", "a[ 1 ]--"},
    {"sleep(5)", "sleep( 5 )"},
    {"sprintf(\"%d\", 1)", "sprintf( \"%d\" , 1 )"},
    {"x = sprintf(\"%d\", 1)", "x = sprintf ( \"%d\" , 1 )"},
    {"x = a[1][i]", "x = a[ 1 ][ i ]"},
    {"x = not a", "x =  not a"},
    {"assert(a)", "assert ( a )"},
    {"assert(a == 1, \"m\")", "assert ( a == 1 , \"m\" )"},
    {"x = 0x1F, &HFFFFFFFF", "x = 0x1f , 0xffffffff"},
    {"x = 010, 0", "x = 010 , 0"},
    {"x = sscanf(s, \"%d\")", "x = sscanf ( s , \"%d\" )"},
    {"x = sscanf(a, b)",
     "x = sscanf ( a , b )N/A(1) : Error: Invalid parameters to sscanf expected ( \"format\" , "
     "\"text\" )"},
    {"default x = 1", "default x = 1"},
    {"x = arraylength(a)", "x = arraylength( a )"},
    {"x = arraylength()", "x = arraylength(  )"},
    {"function F endfunction", "function F"},
    {"foo(1, 2):", "foo( 1 , 2 ):"},
    {"foo()", "foo( )"},
    {"movelogfile(\"a.log\")", "movelogfile ( \"a.log\" )"},
    {"copylogfile(name)", "copylogfile ( name )"},
    {"return 1, a", "return 1 , a"},
    {"return 1, a - 1", "return 1a - 1"},
    {"local x = 5", "local  x = 5"},
    {"abort(\"stop\")", "abort \"stop\""},
    {"# note", "# note"},
    {"failed", "failed"},
    {"x = 1.5, true", "x = 1.5 , true"},
    {"while a do endwhile", "while"},
    {"result \"Step\" x = 1", "Step"},
    {"\n\nendif", "N/A(3) : Error: endif"},
};
INSTANTIATE_TEST_SUITE_P(Kinds, ScriptTextTest, ::testing::ValuesIn(kTexts));

// Malformed items: the text is an error line, and the status reaches every ancestor.
struct MalformedCase {
  ItemType type;
  int children;
  const char* text;
  Result status;
};

class MalformedTextTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedTextTest, ReportsAndMarksAncestors) {
  ScriptItemPtr root = ScriptItem::Make(rootItem, "root", "a.odl", 0);
  ScriptItemPtr block = ScriptItem::Make(thenItem, "then", "a.odl", 3);
  root->AddChild(block);
  ScriptItemPtr item = ScriptItem::Make(GetParam().type, "?", "a.odl", 7);
  block->AddChild(item);
  for (int i = 0; i < GetParam().children; ++i) {
    item->AddChild(ScriptItem::Make(idItem, "c", "a.odl", 7));
  }
  EXPECT_EQ(item->ScriptTextOf(), GetParam().text);
  EXPECT_EQ(item->current_result(), GetParam().status);
  EXPECT_EQ(root->current_result(), GetParam().status);
}

const MalformedCase kMalformed[] = {
    {assignmentItem, 1, "a.odl(7) : Error: Invalid assignment Statement", TestError},
    {actionItem, 1, "a.odl(7) : Error: Invalid action statement", TestError},
    {lessThanItem, 3, "a.odl(7) : Error: Invalid conditional", TestError},
    {orItem, 1, "a.odl(7) : Error: Invalid conditional", TestError},
    {arithmeticItem, 0, "a.odl(7) : Error: Invalid arithmetic statement", TestError},
    {newItem, 0, "a.odl(7) : Error: Invalid new statement", TestError},
    {deleteItem, 2, "a.odl(7) : Error: Invalid delete statement", TestError},
    {incrementItem, 0, "a.odl(7) : Error: Invalid ++ statement", TestError},
    {decrementItem, 0, "a.odl(7) : Error: Invalid -- statement", TestError},
    {sleepItem, 2, "a.odl(7) : Error: Invalid sleep statement", TestError},
    {assertItem, 3, "a.odl(7) : Error: Invalid assert statement", TestError},
    {defaultItem, 0, "a.odl(7) : Error: Invalid default Statement", TestError},
    {returnItem, 0, "a.odl(7) : Error: Invalid return Statement", TestError},
    {arrayIndexItem, 1, "[ ? ]", TestError},
    {sscanfItem, 2,
     "sscanf ( c , c )a.odl(7) : Error: Invalid parameters to sscanf expected ( \"format\" , "
     "\"text\" )",
     TestError},
    // Kinds without a check write what they have and leave the status alone.
    {notItem, 0, " not ", TestNotRun},
    {moveLogFileItem, 0, "movelogfile (  Error  )", TestNotRun},
    {copyLogFileItem, 2, "copylogfile (  Error  )", TestNotRun},
    {idItem, 2, "?( c , c )", TestNotRun},
    {arrayLengthItem, 2, "arraylength(  )", TestNotRun},
};
INSTANTIATE_TEST_SUITE_P(Items, MalformedTextTest, ::testing::ValuesIn(kMalformed));

TEST(ScriptItemTest, NewItemDefaults) {
  ScriptItem item;
  ItemType type = rootItem;
  std::string text;
  std::uint32_t line = 0;
  Result result = TestPassed;
  EXPECT_EQ(item.get_Type(&type), S_OK);
  EXPECT_EQ(type, errorItem);
  EXPECT_EQ(item.get_Text(&text), S_OK);
  EXPECT_EQ(text, "Unknown");
  EXPECT_EQ(item.get_lineNumber(&line), S_OK);
  EXPECT_EQ(line, 4294967295u);
  EXPECT_EQ(item.get_CurrentResult(&result), S_OK);
  EXPECT_EQ(result, TestNotRun);
  EXPECT_EQ(item.get_FileName(&text), S_OK);
  EXPECT_EQ(text, "");
  // An error item made by the builder starts as TestError.
  EXPECT_EQ(ScriptItem::Make(errorItem, "x", "f", 1)->current_result(), TestError);
}

TEST(ScriptItemTest, IdsIncreaseInCreationOrder) {
  ScriptItemPtr a = ScriptItem::Make(idItem, "a", "f", 1);
  ScriptItemPtr b = ScriptItem::Make(idItem, "b", "f", 1);
  std::uint32_t id_a = 0, id_b = 0;
  EXPECT_EQ(a->get_Id(&id_a), S_OK);
  EXPECT_EQ(b->get_Id(&id_b), S_OK);
  EXPECT_LT(id_a, id_b);
}

class ItemTree : public ::testing::Test {
 protected:
  // root [ block [ leaf, sibling ] ]
  void SetUp() override {
    root_ = ScriptItem::Make(rootItem, "root", "f", 0);
    block_ = ScriptItem::Make(thenItem, "then", "f", 1);
    leaf_ = ScriptItem::Make(idItem, "leaf", "f", 2);
    sibling_ = ScriptItem::Make(idItem, "sibling", "f", 3);
    root_->AddChild(block_);
    block_->AddChild(leaf_);
    block_->AddChild(sibling_);
  }
  ScriptItemPtr root_, block_, leaf_, sibling_;
};

TEST_F(ItemTree, ChildrenAndParent) {
  std::uint32_t count = 0;
  EXPECT_EQ(block_->get_ChildCount(&count), S_OK);
  EXPECT_EQ(count, 2u);
  std::shared_ptr<IScriptItem> child;
  EXPECT_EQ(block_->get_Children(1, &child), S_OK);
  EXPECT_EQ(child, sibling_);
  EXPECT_EQ(block_->get_Children(2, &child), E_INVALIDARG);
  EXPECT_EQ(block_->get_Children(0, nullptr), E_POINTER);
  std::shared_ptr<IScriptItem> parent;
  EXPECT_EQ(leaf_->get_Parent(&parent), S_OK);
  EXPECT_EQ(parent, block_);
  EXPECT_EQ(root_->get_Parent(&parent), S_OK);
  EXPECT_EQ(parent, nullptr);
  EXPECT_EQ(block_->get_ChildCount(nullptr), E_POINTER);
}

TEST_F(ItemTree, InsertRemoveAndIndex) {
  ScriptItemPtr extra = ScriptItem::Make(idItem, "extra", "f", 4);
  block_->InsertChild(2, extra);  // not below the count: nothing happens
  EXPECT_EQ(block_->child_count(), 2u);
  block_->InsertChild(1, extra);
  EXPECT_EQ(block_->IndexOfChild(extra.get()), 1u);
  EXPECT_EQ(extra->parent(), block_.get());
  block_->RemoveChild(extra.get());
  EXPECT_EQ(block_->IndexOfChild(extra.get()), 2u);
  EXPECT_EQ(extra->parent(), nullptr);
  block_->RemoveChild(extra.get());  // absent: nothing happens
  EXPECT_EQ(block_->child_count(), 2u);
}

TEST_F(ItemTree, ChildOutlivingItsParentHasNoParent) {
  ScriptItemPtr kept = leaf_;
  root_.reset();
  block_.reset();
  std::shared_ptr<IScriptItem> parent;
  EXPECT_EQ(kept->get_Parent(&parent), S_OK);
  EXPECT_EQ(parent, nullptr);
}

TEST_F(ItemTree, SetResultStatusReachesEveryAncestor) {
  EXPECT_EQ(leaf_->SetResultStatus(TestFailed), S_OK);
  EXPECT_EQ(block_->current_result(), TestFailed);
  EXPECT_EQ(root_->current_result(), TestFailed);
  EXPECT_EQ(sibling_->SetResultStatus(TestPassed), S_OK);
  EXPECT_EQ(leaf_->current_result(), TestFailed);
  EXPECT_EQ(root_->current_result(), TestPassed);
  EXPECT_EQ(leaf_->SetResultStatus(TestAborted), S_OK);
  EXPECT_EQ(leaf_->current_result(), TestFailed);
  EXPECT_EQ(leaf_->SetResultStatus(static_cast<Result>(7)), E_INVALIDARG);
  EXPECT_EQ(leaf_->SetResultStatus(static_cast<Result>(-1)), E_INVALIDARG);
  EXPECT_EQ(leaf_->current_result(), TestFailed);
}

TEST_F(ItemTree, AddResultRecordsAndCounts) {
  auto parameters = std::make_shared<VariantArray>(VariantArray{
      Variant::Int(5), Variant::Double(2.5), Variant::String("s"), Variant::Bool(true),
      Variant::Array(VariantArray{Variant::Int(1), Variant::Other(VT_DATE)}), Variant()});
  EXPECT_EQ(leaf_->AddResult(TestFailed, 3, 0.25, parameters), S_OK);
  EXPECT_EQ(leaf_->AddResult(TestAborted, 4, 0.5, nullptr), S_OK);
  EXPECT_EQ(leaf_->AddResult(static_cast<Result>(7), 4, 0.5, nullptr), E_INVALIDARG);
  EXPECT_EQ(leaf_->current_result(), TestAborted);
  EXPECT_EQ(block_->current_result(), TestNotRun);  // the parent is not touched

  std::uint32_t count = 0;
  EXPECT_EQ(leaf_->get_NumberOfResults(&count), S_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(leaf_->get_ResultCount(TestFailed, &count), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(leaf_->get_ResultCount(TestNotRun, &count), S_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(leaf_->get_ResultCount(TestAborted, &count), E_INVALIDARG);
  EXPECT_EQ(leaf_->CountOf(TestAborted), 1u);

  Result result = TestPassed;
  std::uint32_t iteration = 0;
  std::int64_t time = 0;
  double taken = 0;
  VariantArrayPtr values;
  EXPECT_EQ(leaf_->Results(0, &result, &iteration, &time, &taken, &values), S_OK);
  EXPECT_EQ(result, TestFailed);
  EXPECT_EQ(iteration, 3u);
  EXPECT_GT(time, 1600000000);
  EXPECT_EQ(taken, 0.25);
  // Booleans and other kinds are skipped on the way in.
  ASSERT_TRUE(values);
  ASSERT_EQ(values->size(), 4u);
  EXPECT_EQ((*values)[0].as_int(), 5);
  EXPECT_EQ((*values)[1].as_double(), 2.5);
  EXPECT_EQ((*values)[2].as_string(), "s");
  ASSERT_TRUE((*values)[3].is_array());
  ASSERT_EQ((*values)[3].as_array()->size(), 1u);
  EXPECT_EQ((*values)[3].as_array()->at(0).as_int(), 1);

  values = std::make_shared<VariantArray>();
  EXPECT_EQ(leaf_->Results(1, &result, &iteration, &time, &taken, &values), S_OK);
  EXPECT_EQ(values, nullptr);  // a record without values leaves the values null
  EXPECT_EQ(leaf_->Results(1, &result, &iteration, &time, &taken, nullptr), S_OK);
  EXPECT_EQ(leaf_->Results(2, &result, &iteration, &time, &taken, &values), E_INVALIDARG);
  EXPECT_EQ(leaf_->Results(0, nullptr, &iteration, &time, &taken, &values), E_POINTER);
  EXPECT_EQ(leaf_->Results(0, &result, &iteration, nullptr, &taken, &values), E_POINTER);
}

TEST_F(ItemTree, ResultsGiveValuesBackAsVariants) {
  leaf_->RecordResult(TestPassed, 1, 0.0,
                      {Variant::Bool(true), Variant::Other(VT_DATE, 7), Variant::Array({Variant::Int(1)})});
  Result result;
  std::uint32_t iteration;
  std::int64_t time;
  double taken;
  VariantArrayPtr values;
  ASSERT_EQ(leaf_->Results(0, &result, &iteration, &time, &taken, &values), S_OK);
  ASSERT_EQ(values->size(), 3u);
  EXPECT_EQ((*values)[0].type(), VT_BOOL);
  EXPECT_EQ((*values)[0].as_bool_bits(), kVariantTrue);
  EXPECT_EQ((*values)[1].type(), VT_DATE);
  ASSERT_TRUE((*values)[2].is_array());
  // The client gets copies: changing them leaves the record as it was.
  (*values)[2].as_array()->at(0) = Variant::String("changed");
  ASSERT_EQ(leaf_->Results(0, &result, &iteration, &time, &taken, &values), S_OK);
  EXPECT_EQ((*values)[2].as_array()->at(0).as_int(), 1);
}

TEST_F(ItemTree, ResetResultsClearsTheSubtreeButKeepsBreakpoints) {
  leaf_->RecordResult(TestFailed, 1, 0.0);
  root_->RecordResult(TestPassed, 1, 0.0);
  EXPECT_EQ(leaf_->put_BreakpointSet(kVariantTrue), S_OK);
  EXPECT_EQ(root_->ResetResults(), S_OK);
  EXPECT_EQ(leaf_->NumberOfRecords(), 0u);
  EXPECT_EQ(root_->NumberOfRecords(), 0u);
  EXPECT_EQ(leaf_->CountOf(TestFailed), 0u);
  EXPECT_EQ(leaf_->current_result(), TestNotRun);
  EXPECT_TRUE(leaf_->breakpoint());
}

TEST_F(ItemTree, Breakpoints) {
  VariantBool value = kVariantFalse;
  EXPECT_EQ(leaf_->put_BreakpointSet(kVariantTrue), S_OK);
  EXPECT_EQ(leaf_->get_BreakpointSet(&value), S_OK);
  EXPECT_EQ(value, kVariantTrue);
  EXPECT_EQ(leaf_->put_BreakpointSet(1), S_OK);  // only all bits set reads as true
  EXPECT_FALSE(leaf_->breakpoint());
  leaf_->set_breakpoint(true);
  sibling_->set_breakpoint(true);
  EXPECT_EQ(root_->ClearAllBreakpoints(), S_OK);
  EXPECT_FALSE(leaf_->breakpoint());
  EXPECT_FALSE(sibling_->breakpoint());
  EXPECT_EQ(leaf_->get_BreakpointSet(nullptr), E_POINTER);
}

TEST_F(ItemTree, CurrentParent) {
  std::shared_ptr<IScriptItem> item;
  EXPECT_EQ(leaf_->get_CurrentParent(&item), S_OK);
  EXPECT_EQ(item, block_);
  EXPECT_EQ(root_->get_CurrentParent(&item), S_OK);
  EXPECT_EQ(item, nullptr);
  EXPECT_EQ(leaf_->put_CurrentParent(sibling_), S_OK);
  EXPECT_EQ(leaf_->get_CurrentParent(&item), S_OK);
  EXPECT_EQ(item, sibling_);
  EXPECT_EQ(leaf_->current_parent(), sibling_.get());
  EXPECT_EQ(leaf_->put_CurrentParent(nullptr), S_OK);
  EXPECT_EQ(leaf_->current_parent(), block_.get());
}

// A run thread records results while a client thread reads them.
TEST_F(ItemTree, ResultsMayBeWrittenAndReadConcurrently) {
  constexpr int kRecords = 2000;
  std::thread writer([this] {
    for (int i = 0; i < kRecords; ++i) {
      leaf_->RecordResult(i % 2 ? TestPassed : TestFailed, static_cast<std::uint32_t>(i), 0.0,
                          {Variant::Int(i)});
      leaf_->SetStatus(TestPassed);
      leaf_->set_current_parent(i % 2 ? sibling_ : nullptr);
      leaf_->set_breakpoint(i % 2 == 0);
    }
  });
  std::uint32_t seen = 0;
  while (seen < kRecords) {
    std::uint32_t count = 0;
    leaf_->get_NumberOfResults(&count);
    if (count > 0) {
      Result result;
      std::uint32_t iteration;
      std::int64_t time;
      double taken;
      VariantArrayPtr values;
      ASSERT_EQ(leaf_->Results(count - 1, &result, &iteration, &time, &taken, &values), S_OK);
      EXPECT_EQ(iteration, count - 1);
    }
    Result current;
    root_->get_CurrentResult(&current);
    std::shared_ptr<IScriptItem> parent;
    leaf_->get_CurrentParent(&parent);
    leaf_->get_ResultCount(TestPassed, &count);
    VariantBool flag;
    leaf_->get_BreakpointSet(&flag);
    leaf_->get_NumberOfResults(&seen);
  }
  writer.join();
  EXPECT_EQ(leaf_->CountOf(TestPassed) + leaf_->CountOf(TestFailed), std::uint32_t{kRecords});
  leaf_->set_current_parent(nullptr);
}

TEST(ItemTypeNameTest, NamesEveryKindAndNoGap) {
  EXPECT_STREQ(ItemTypeName(assignmentItem), "assignmentItem");
  EXPECT_STREQ(ItemTypeName(abortItem), "abortItem");
  int named = 0;
  for (int value = 0; value <= 60; ++value) {
    if (ItemTypeName(static_cast<ItemType>(value)) != nullptr) ++named;
  }
  EXPECT_EQ(named, 51);
  EXPECT_EQ(ItemTypeName(static_cast<ItemType>(5)), nullptr);
  EXPECT_EQ(ItemTypeName(static_cast<ItemType>(10)), nullptr);
  EXPECT_EQ(ItemTypeName(static_cast<ItemType>(28)), nullptr);
}

}  // namespace
}  // namespace ordalis
