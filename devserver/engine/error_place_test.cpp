// Errors that say where they happened: label+offset^routine in the text,
// $ZERROR, $STACK(level,"PLACE") and $STACK(level,"MCODE"), and $SYSTEM.
#include "engine_test_support.h"

namespace mengine::test {
namespace {

class ErrorPlaceTest : public EngineTest {
 protected:
  void SetUp() override {
    storeRoutine("ERR", {
        "ERR ; places",
        "SUB ;",
        " w x",
        "XEC x \"w y\"",
        "GO x \"g there\"",
        "there s a=1",
        " w 1/0",
        "TRAP n $et s $et=\"s pl=$st($st,\"\"PLACE\"\"),mc=$st($st,\"\"MCODE\"\"),$ec=\"\"\"\"\" w z",
        "FN() q $$inner",
        "inner() q 1+nope",
    });
  }
};

TEST_F(ErrorPlaceTest, TheTextNamesLabelOffsetAndRoutine) {
  EXPECT_EQ(errorOf("d SUB^ERR"), "<UNDEFINED>SUB+1^ERR *x");
  // An XECUTEd line's error is placed at the line that ran the XECUTE.
  EXPECT_EQ(errorOf("d XEC^ERR"), "<UNDEFINED>XEC^ERR *y");
  EXPECT_EQ(errorOf("d GO^ERR"), "<DIVIDE>there+1^ERR");
  // The innermost routine line is the place, also through extrinsics.
  EXPECT_EQ(evalError("$$FN^ERR()"), "<UNDEFINED>inner^ERR *nope");
  // A direct-mode line has no routine place.
  EXPECT_EQ(errorOf("w nope"), "<UNDEFINED> *nope");
}

TEST_F(ErrorPlaceTest, ZErrorHoldsTheLastErrorAndCanBeSet) {
  run("s $etrap=\"s ze=$zerror,$ec=\"\"\"\"\" d SUB^ERR s $etrap=\"\"");
  EXPECT_EQ(eval("ze"), "<UNDEFINED>SUB+1^ERR *x");
  EXPECT_EQ(eval("$ze"), "<UNDEFINED>SUB+1^ERR *x");
  run("s $ze=\"mine\"");
  EXPECT_EQ(eval("$zerror"), "mine");
  EXPECT_EQ(errorOf("w nope"), "<UNDEFINED> *nope");
  EXPECT_EQ(eval("$ze"), "<UNDEFINED>+1^%DIRECT *nope");
}

// A direct-mode request is placed as line 1 of a routine that is not
// stored: $ZERROR and $STACK name it, while the message to the client, which
// sent the line, is the error alone.
TEST_F(ErrorPlaceTest, DirectModeIsPlacedInZErrorAndStack) {
  EXPECT_EQ(errorOf("s a=1 w nope"), "<UNDEFINED> *nope");
  EXPECT_EQ(eval("$ze"), "<UNDEFINED>+1^%DIRECT *nope");
  EXPECT_EQ(errorOf("x \"w 1/0\""), "<DIVIDE>");
  EXPECT_EQ(eval("$ze"), "<DIVIDE>+1^%DIRECT");
  EXPECT_EQ(errorOf("s a=1 s"), "<SYNTAX>");
  EXPECT_EQ(eval("$ze"), "<SYNTAX>+1^%DIRECT");
  // A routine's error keeps its own place, also in the client's message.
  EXPECT_EQ(errorOf("w 1 d SUB^ERR"), "<UNDEFINED>SUB+1^ERR *x");
  EXPECT_EQ(eval("$ze"), "<UNDEFINED>SUB+1^ERR *x");
  EXPECT_EQ(output("w $st(0,\"PLACE\")"), "+1^%DIRECT");
  EXPECT_EQ(output("x \"w $st(1,\"\"PLACE\"\")\""), "");
  // A trap at direct mode reads the place.
  run("s $etrap=\"s ze=$ze,pl=$st($st,\"\"PLACE\"\"),$ec=\"\"\"\"\" w nope s $etrap=\"\"");
  EXPECT_EQ(eval("ze_\"|\"_pl"), "<UNDEFINED>+1^%DIRECT *nope|+1^%DIRECT");
  // $TEXT of the place finds nothing rather than failing in a handler.
  EXPECT_EQ(eval("$t(+1^%DIRECT)"), "");
}

TEST_F(ErrorPlaceTest, StackGivesPlaceAndCode) {
  run("d TRAP^ERR");
  EXPECT_EQ(eval("pl"), "TRAP^ERR");
  EXPECT_EQ(eval("mc"), "TRAP n $et s $et=\"s pl=$st($st,\"\"PLACE\"\"),mc=$st($st,\"\"MCODE\"\"),$ec=\"\"\"\"\" w z");
  // Direct mode and XECUTE: the line's own text.
  EXPECT_EQ(output("w $st(0,\"MCODE\")"), "w $st(0,\"MCODE\")");
  EXPECT_EQ(output("x \"w $st(1,\"\"MCODE\"\")\""), "w $st(1,\"MCODE\")");
}

TEST_F(ErrorPlaceTest, SystemClaimsNoOtherImplementationsNumber) {
  EXPECT_EQ(eval("$system"), "0,kvrdevserver");
}

}  // namespace
}  // namespace mengine::test
