// Commands on a job: SET, WRITE, KILL, $ORDER and friends, wo^%srv, ZN.
#include "engine_test_support.h"

namespace mengine::test {

void EngineTest::storeRoutine(const std::string& name, const std::vector<std::string>& lines,
                              const std::string& global) {
  job_.kill(global + "(\"" + name + "\")", io_);
  for (size_t i = 0; i < lines.size(); ++i)
    job_.set(global + "(\"" + name + "\"," + std::to_string(i + 1) + ")", lines[i], io_);
  job_.set(global + "(\"" + name + "\",0)", "66000,100", io_);
  job_.set(global + "(\"" + name + "\")", std::to_string(lines.size()) + ",0", io_);
}

namespace {

using CommandTest = EngineTest;

TEST_F(CommandTest, SetWriteAndKill) {
  EXPECT_EQ(output("s a=1,b=\"x\" w a,b,!,\"c\""), "1x\r\nc");
  run("s ^G(1)=2,(x,y)=5");
  EXPECT_EQ(eval("^G(1)_x_y"), "255");
  run("k ^G(1),x");
  EXPECT_EQ(eval("$d(^G(1))_$d(x)_$d(y)"), "001");
  EXPECT_EQ(output("w !,\"ab\",?5,\"c\",#"), "\r\nab   c\f");
}

TEST_F(CommandTest, HandsValuesBackThroughWo) {
  EXPECT_EQ(values("d wo^%srv(1),wo^%srv(\"two\")"), (std::vector<std::string>{"1", "two"}));
}

TEST_F(CommandTest, SwitchesDatabases) {
  EXPECT_EQ(job_.database(), "%SYS");
  run("s ^X=1 zn \"USER\"");
  EXPECT_EQ(job_.database(), "USER");
  EXPECT_EQ(eval("$d(^X)"), "0");
  EXPECT_EQ(errorOf("zn \"NOPE\""), "<NAMESPACE>");
  EXPECT_EQ(job_.database(), "USER");
}

}  // namespace
}  // namespace mengine::test
