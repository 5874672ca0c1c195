// $ORDER of an unsubscripted local name: the walk over the names of the
// defined local variables that leak checks and variable dumps are written with.
#include "engine_test_support.h"

namespace mengine::test {
namespace {

using LocalNamesTest = EngineTest;

TEST_F(LocalNamesTest, OrderOfANameGivesTheNextDefinedName) {
  run("k  s %z=1,b=2,a(3)=3,ab=4");
  // Names come in byte order: % before capitals before small letters.
  EXPECT_EQ(eval("$o(@\"%\")"), "%z");
  EXPECT_EQ(eval("$o(a)"), "ab");
  EXPECT_EQ(eval("$o(@\"ab\")"), "b");
  // A name that is not defined itself still finds the one after it.
  EXPECT_EQ(eval("$o(aa)"), "ab");
  EXPECT_EQ(eval("$o(b)"), "");
  EXPECT_EQ(eval("$o(b,-1)"), "ab");
  EXPECT_EQ(eval("$o(%z,-1)"), "");
}

TEST_F(LocalNamesTest, TheWalkSeesOnlyVariablesThatHoldSomething) {
  run("k  s x=1,y(1)=1,z=1 k y(1) n z");
  run("s out=\"\",v=\"%\" f  s v=$o(@v) q:v=\"\"  s out=out_v_\",\"");
  // y was emptied and z is hidden by the NEW; out and v are defined by now.
  EXPECT_EQ(eval("out"), "out,v,x,");
}

TEST_F(LocalNamesTest, LeakCheckFindsAVariableLeftBehind) {
  storeRoutine("LEAK", {"LEAK ;", " s tmp=1 q", "CHECK(found) n (found)",
                        " d ^LEAK s v=\"%\" f  s v=$o(@v) q:v=\"\"  i v'=\"found\",v'=\"v\" s found=found_v",
                        " q"});
  run("k  s found=\"\",keep=1 d CHECK^LEAK(.found)");
  EXPECT_EQ(eval("found"), "tmp");
  // Globals keep refusing an unsubscripted $ORDER.
  EXPECT_EQ(evalError("$o(^LEAK)"), "<FUNCTION>");
}

}  // namespace
}  // namespace mengine::test
