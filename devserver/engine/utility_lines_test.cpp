// Every M line and expression the utilities send, run against a prepared
// database the way the utilities run them, with the results checked.
#include "engine_test_support.h"

namespace mengine::test {
namespace {

class UtilityLinesTest : public EngineTest {
 protected:
  void SetUp() override {
    run("zn \"USER\"");
    storeRoutine("ABC", {"ABC ; first", "", " q"});
    storeRoutine("ABD", {"ABD w 1"});
    storeRoutine("XYZ", {"XYZ q"});
    storeRoutine("ABC", {"ABC ; macro"}, "^rMAC");
    storeRoutine("MAC1", {"MAC1 ; only macro", " w 2"}, "^rMAC");
    storeRoutine("INC1", {"#define X 1"}, "^rINC");
    storeRoutine("BAD", {"BAD ; broken", " s x=", " w 1", " bogus"});
    storeRoutine("NUM", {"NUM", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"});
  }

  // The mask lines of the selection step, then one name collection.
  std::vector<std::string> select(const std::string& mask, const std::string& global) {
    job_.set("mask", mask, io_);
    run(kNormalise);
    run(kSelect);
    return values("s rn=\"\" f  s rn=$o(rtn(\"" + global + "\",rn)) q:rn=\"\"  d wo^%srv(rn)");
  }

  static constexpr const char* kNormalise =
      "f n=1:1:$l(mask,\",\") s m=$p(mask,\",\",n) s e=$zupper($p(m,\".\",2)) i "
      "(e'=\"INT\")&(e'=\"MAC\")&(e'=\"INC\") s e=\"INT\" s $p(mask,\",\",n)=$p(m,\".\")_\".\"_e";
  static constexpr const char* kSelect =
      "f n=1:1:$l(mask,\",\") s m=$p(mask,\",\",n) s p=$$pat^%RSEL($p(m,\".\")) s "
      "g=$$gloname^%RSEL(m) s rn=\"\" f  s rn=$o(@g@(rn)) q:rn=\"\"  i rn?@p s rtn(g,rn)=\"\"";
  static constexpr const char* kDiff =
      "($p(d1,\",\",1)*100000+$p(d1,\",\",2))-($p(d2,\",\",1)*100000+$p(d2,\",\",2))";
};

using Names = std::vector<std::string>;

TEST_F(UtilityLinesTest, SplitsTheFileList) {
  job_.set("files", "a*.int,b.mac,,c", io_);
  EXPECT_EQ(values("f n=1:1:$l(files,\",\") d wo^%srv($p(files,\",\",n))"),
            (Names{"a*.int", "b.mac", "", "c"}));
}

TEST_F(UtilityLinesTest, SelectsRoutinesByMask) {
  EXPECT_EQ(select("AB*", "^ROUTINE"), (Names{"ABC", "ABD"}));
  EXPECT_EQ(select("AB?,X*.int", "^ROUTINE"), (Names{"ABC", "ABD", "XYZ"}));
  run("k rtn");
  EXPECT_EQ(select("*.MAC", "^rMAC"), (Names{"ABC", "MAC1"}));
  EXPECT_EQ(select("*.inc", "^rINC"), (Names{"INC1"}));
  run("k rtn");
  EXPECT_EQ(select("NOPE*", "^ROUTINE"), Names{});
  EXPECT_EQ(select("?", "^ROUTINE"), Names{});
}

TEST_F(UtilityLinesTest, ListsAndShowsFirstLines) {
  job_.set("mask", "A*,MAC1.mac", io_);
  run(kNormalise);
  EXPECT_EQ(values("s ^TRM(\"mask\")=mask f n=1:1:$l(mask,\",\") s m=$p(mask,\",\",n) s "
                   "p=$$pat^%RSEL($p(m,\".\")) s g=$$gloname^%RSEL(m) s rn=\"\" f  s "
                   "rn=$o(@g@(rn)) q:rn=\"\"  i rn?@p d wo^%srv(rn_\".\"_$p(m,\".\",2))"),
            (Names{"ABC.INT", "ABD.INT", "MAC1.mac"}));
  EXPECT_EQ(eval("^TRM(\"mask\")"), "A*.INT,MAC1.mac");
  EXPECT_EQ(values("f n=1:1:$l(mask,\",\") s m=$p(mask,\",\",n) s p=$$pat^%RSEL($p(m,\".\")) s "
                   "g=$$gloname^%RSEL(m) s rn=\"\" f  s rn=$o(@g@(rn)) q:rn=\"\"  i rn?@p d "
                   "wo^%srv(rn_\".\"_$p(m,\".\",2)_$c(9)_$g(@g@(rn,1)))"),
            (Names{"ABC.INT\tABC ; first", "ABD.INT\tABD w 1", "MAC1.mac\tMAC1 ; only macro"}));
}

TEST_F(UtilityLinesTest, ExportsRoutineText) {
  job_.set("rn", "ABC", io_);
  EXPECT_EQ(output("s n=0 f  s n=$o(^ROUTINE(rn,n)) q:n=\"\"  s l=$g(^ROUTINE(rn,n)) w "
                   "$s(l=\"\":\" \",1:l)_$c(10)"),
            "ABC ; first\n \n q\n");
  EXPECT_EQ(output("w rn_\"^INT^^\"_$g(^ROUTINE(rn,0))_\"^\"_$c(10)"), "ABC^INT^^66000,100^\n");
  EXPECT_EQ(eval("$g(^ROUTINE(rn,0))"), "66000,100");
  job_.set("rn", "NUM", io_);
  EXPECT_EQ(output("s n=0 f  s n=$o(^ROUTINE(rn,n)) q:n=\"\"  s l=$g(^ROUTINE(rn,n)) w "
                   "$s(l=\"\":\" \",1:l)_$c(10)"),
            "NUM\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n");
  job_.set("rn", "INC1", io_);
  EXPECT_EQ(output("w rn_\"^INC^^\"_$g(^rINC(rn,0))_\"^\"_$c(10)"), "INC1^INC^^66000,100^\n");
}

TEST_F(UtilityLinesTest, ComparesDates) {
  EXPECT_EQ(eval("$$DATE^%R(\"ABC.INT\")"), "66000,100");
  EXPECT_EQ(eval("$$DATE^%R(\"MAC1.MAC\")"), "66000,100");
  EXPECT_EQ(eval("$$DATE^%R(\"INC1.INC\")"), "66000,100");
  EXPECT_EQ(eval("$$DATE^%R(\"NONE.INT\")"), "");
  job_.set("d1", "66000,160", io_);
  job_.set("d2", eval("$$DATE^%R(\"ABC.INT\")"), io_);
  EXPECT_EQ(eval(kDiff), "60");
  job_.set("d1", "65999,86399", io_);
  EXPECT_EQ(eval(kDiff), "-13701");
  job_.set("d1", "66000,99", io_);
  EXPECT_EQ(eval(kDiff), "-1");
}

TEST_F(UtilityLinesTest, ImportsARoutine) {
  run("k ^ROUTINE(\"NEW\")");
  job_.set("^ROUTINE(\"NEW\",1)", "NEW ; imported", io_);
  job_.set("^ROUTINE(\"NEW\",2)", " q", io_);
  run("s ^ROUTINE(\"NEW\",0)=\"66001,5\"");
  run("s ^ROUTINE(\"NEW\")=\"2,17\"");
  EXPECT_EQ(output("d compile^%RCOMPIL(\"NEW.INT\")"), "");
  EXPECT_EQ(eval("$l($g(^rOBJ(\"NEW\")),\",\")"), "2");
  EXPECT_EQ(eval("^ROUTINE(\"NEW\")_\"/\"_$$DATE^%R(\"NEW.INT\")"), "2,17/66001,5");
}

TEST_F(UtilityLinesTest, ImportsThroughTheTargetGlobalVariable) {
  job_.set("rglobal", "^rMAC", io_);
  run("k @rglobal@(\"GT\")");
  job_.set("@rglobal@(\"GT\",1)", "GT ; line", io_);
  run("s @rglobal@(\"GT\",0)=$h");
  run("s @rglobal@(\"GT\")=\"1,9\"");
  EXPECT_EQ(eval("$p(^rMAC(\"GT\",0),\",\")>60000_\"/\"_^rMAC(\"GT\")_\"/\"_^rMAC(\"GT\",1)"),
            "1/1,9/GT ; line");
  job_.set("line", "ABC.MAC.x.66000,10", io_);
  run("s delim=$s($f(line,\".\"):\".\",1:\"^\")");
  EXPECT_EQ(eval("delim"), ".");
  job_.set("line", "ABC^MAC^^66000,10^", io_);
  run("s delim=$s($f(line,\".\"):\".\",1:\"^\")");
  EXPECT_EQ(eval("$p(line,delim,1)_\"|\"_$zupper($p(line,delim,2))_\"|\"_$p(line,delim,4)"),
            "ABC|MAC|66000,10");
}

TEST_F(UtilityLinesTest, CompilesSelectedRoutines) {
  job_.set("mask", "ABC.INT,MAC1.MAC,ABC.MAC,BAD", io_);
  run(kNormalise);
  run(kSelect);
  EXPECT_EQ(output("s rn=\"\" f  s rn=$o(rtn(\"^ROUTINE\",rn)) q:rn=\"\"  i '$d(rtn(\"^rMAC\",rn)) "
                   "w \"Compile \"_rn_\".INT\"_$c(10) d compile^%RCOMPIL(rn_\".INT\")"),
            "Compile BAD.INT\nBAD+1: <SYNTAX>\n s x=\n     ^\nBAD+3: <SYNTAX>\n bogus\n ^\n"
            "2 errors in BAD\n");
  EXPECT_EQ(eval("$d(^rOBJ(\"BAD\"))"), "0");
  EXPECT_EQ(output("s rn=\"\" f  s rn=$o(rtn(\"^rMAC\",rn)) q:rn=\"\"  i '$d(rtn(\"^ROUTINE\",rn)) "
                   "w \"Compile \"_rn_\".MAC\"_$c(10) d compile^%RCOMPIL(rn_\".MAC\")"),
            "Compile MAC1.MAC\n");
  EXPECT_EQ(eval("^ROUTINE(\"MAC1\",2)_\"/\"_$d(^rOBJ(\"MAC1\"))"), " w 2/1");
  EXPECT_EQ(output("d compile^%RCOMPIL(\"GONE.INT\")"), "Routine GONE.INT does not exist\n");
}

TEST_F(UtilityLinesTest, DeletesRoutines) {
  run("s ^rOBJ(\"ABC\")=1");
  run("k ^ROUTINE(\"ABC\")");
  run("k ^rOBJ(\"ABC\")");
  run("k ^rMAC(\"ABC\")");
  run("k ^rINC(\"INC1\")");
  EXPECT_EQ(eval("$d(^ROUTINE(\"ABC\"))_$d(^rOBJ(\"ABC\"))_$d(^rMAC(\"ABC\"))_$d(^rINC(\"INC1\"))"),
            "0000");
  EXPECT_EQ(eval("$d(^ROUTINE(\"ABD\"))"), "11");
}

TEST_F(UtilityLinesTest, AsksForALoginOnlyWithASettingsFile) {
  EXPECT_EQ(eval("$$ReadString^%INI($v(\"proc\",6)_\"kovra.ini\",\"Login\",\"GUI\")"), "");
  run("s %username=\"u\",%password=\"p\"");
  EXPECT_EQ(eval("$$CHECK^%LOGIN()"), "0");
}

}  // namespace
}  // namespace mengine::test
