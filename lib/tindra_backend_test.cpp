// The in-process backend (ConnectType cntTindra) against the stand-in
// libtindra.so and broken stand-ins. Each test runs in a fresh temporary
// directory that holds the library under test as ./libtindra.so.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kovrasc.h"
#include "kvr_connect.h"

namespace kovra {
namespace {

namespace fs = std::filesystem;

class TindraTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "tindra_test_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(home_);
    fs::remove_all(dir_);
  }

  // Puts a library into the test directory under the name the backend opens.
  void Install(const char* library) {
    fs::copy_file(library, dir_ / "libtindra.so", fs::copy_options::overwrite_existing);
  }

  // Switches c to the virtual machine, records its terminal output events in
  // events, and opens it.
  void Open(TKvrConnect& c, std::vector<std::string>& events) {
    c.ConnectType = cntTindra;
    c.OnTerminalOutput = [&events](TKvrConnect&, std::string_view v) { events.emplace_back(v); };
    c.SetActive(true);
    ASSERT_TRUE(c.Active());
  }

  // The message of the EKovraError that opening c raises ("" when none).
  static std::string OpenFailure(TKvrConnect& c) {
    c.ConnectType = cntTindra;
    try {
      c.SetActive(true);
    } catch (const EKovraError& e) {
      EXPECT_FALSE(c.Active());
      return e.Message();
    }
    return "";
  }

  // Whether ./libtindra.so is loaded in this process.
  static bool Loaded() {
    void* handle = ::dlopen("./libtindra.so", RTLD_LAZY | RTLD_NOLOAD);
    if (handle != nullptr) ::dlclose(handle);
    return handle != nullptr;
  }

  // The message of the EKovraError that body raises ("" when none).
  template <typename Body>
  static std::string Failure(Body body) {
    try {
      body();
    } catch (const EKovraError& e) {
      return e.Message();
    }
    return "";
  }

  fs::path home_;
  fs::path dir_;
};

// ---- Loading -------------------------------------------------------------------

TEST_F(TindraTest, EachMissingPieceIsReportedInLoadingOrder) {
  TKvrConnect c;
  EXPECT_EQ(OpenFailure(c), "Failed to load ./libtindra.so");
  Install(TINDRA_BROKEN_NONE);
  EXPECT_EQ(OpenFailure(c), "Function CreateTindraVM not found");
  Install(TINDRA_BROKEN_CREATE_ONLY);
  EXPECT_EQ(OpenFailure(c), "Function FreeTindraVM not found");
  Install(TINDRA_BROKEN_NO_DEFAULTS);
  EXPECT_EQ(OpenFailure(c), "Function GetDefaultSettingsVM not found");
}

TEST_F(TindraTest, SettingsTheMachineRefusesFailTheOpen) {
  Install(TINDRA_STANDIN);
  TKvrConnect c;
  c.TindraOverrides.JobNumber = 0;
  EXPECT_EQ(OpenFailure(c), "Function CreateTindraVM failed");
  EXPECT_FALSE(Loaded());
  c.TindraOverrides.JobNumber = -1;
  c.TindraOverrides.Database = "NOSUCH";
  EXPECT_EQ(OpenFailure(c), "Function CreateTindraVM failed");
  // A refused creation leaves no machine behind: the next open succeeds.
  c.TindraOverrides.Database = "USER";
  c.TindraOverrides.JobNumber = 42;
  std::vector<std::string> events;
  Open(c, events);
  EXPECT_EQ(c.Read("$J"), "42");
}

// ---- Data operations -------------------------------------------------------------

TEST_F(TindraTest, LocalsAndGlobalsReadBackByteForByte) {
  Install(TINDRA_STANDIN);
  TKvrConnect c;
  std::vector<std::string> events;
  Open(c, events);
  const std::string control("a\0b\r\n\t\"q\"\x7f\xff", 11);
  EXPECT_EQ(c.Write("x", "plain"), "");
  EXPECT_EQ(c.Write("y(1,\"k\")", control), "");
  EXPECT_EQ(c.Write("^G(\"k\",2)", control), "");
  EXPECT_EQ(c.Read("x"), "plain");
  EXPECT_EQ(c.Read("y(1,\"k\")"), control);
  EXPECT_EQ(c.Read("^G(\"k\",2)"), control);
  EXPECT_EQ(c.Read("$D(^G(\"k\"))"), "10");
  EXPECT_EQ(c.Read("$L(y(1,\"k\"))"), "11");
  EXPECT_TRUE(events.empty());
}

TEST_F(TindraTest, WriteAndKillReachTheTargetOfAnIndirection) {
  Install(TINDRA_STANDIN);
  TKvrConnect c;
  std::vector<std::string> events;
  Open(c, events);
  c.Write("ref", "^G(7)");
  c.Write("@ref", "through");
  EXPECT_EQ(c.Read("^G(7)"), "through");
  EXPECT_EQ(c.Read("@ref"), "through");
  c.Kill("@ref");
  EXPECT_EQ(c.Read("$D(^G(7))"), "0");
  EXPECT_EQ(c.Read("ref"), "^G(7)");
}

TEST_F(TindraTest, KillRemovesLocalsAndGlobalSubtrees) {
  Install(TINDRA_STANDIN);
  TKvrConnect c;
  std::vector<std::string> events;
  Open(c, events);
  c.Write("x", "1");
  c.Write("^T(1)", "a");
  c.Write("^T(1,2)", "b");
  c.Write("^T(3)", "c");
  EXPECT_EQ(c.Kill("x"), "");
  c.Kill("^T(1)");
  EXPECT_EQ(c.Read("$D(x)"), "0");
  EXPECT_EQ(c.Read("$D(^T(1))"), "0");
  EXPECT_EQ(c.Read("^T(3)"), "c");
}

TEST_F(TindraTest, OperationsNeedAnOpenMachine) {
  Install(TINDRA_STANDIN);
  TKvrConnect c;
  c.ConnectType = cntTindra;
  EXPECT_EQ(Failure([&] { c.Read("1"); }), "Connect does not exist.");
  EXPECT_EQ(Failure([&] { c.Execute("s x=1"); }), "Connect does not exist.");
}

// A text a record cannot hold is refused whole; a cut line would run
// something else than what was asked.
TEST_F(TindraTest, CodeLongerThanARecordIsRefusedNotCut) {
  Install(TINDRA_STANDIN);
  TKvrConnect c;
  std::vector<std::string> events;
  Open(c, events);
  const std::string code = "s x=1 " + std::string(KOVRA_STR_MAX, ' ') + "s x=2";
  EXPECT_EQ(Failure([&] { c.Execute(code); }), "<MAXSTRING>");
  EXPECT_EQ(c.Read("$D(x)"), "0");
}

// ---- Output -------------------------------------------------------------------------

TEST_F(TindraTest, WriteOutputArrivesAsTerminalEvents) {
  Install(TINDRA_STANDIN);
  TKvrConnect c;
  std::vector<std::string> events;
  Open(c, events);
  EXPECT_EQ(c.Execute("w \"ab\",!,\"c\",#,$C(9,9,9),\"d\",$C(7)"), "");
  const std::vector<std::string> expected{"ab", "\r\n", "c", "\t", "\t", "\t", "d", "\a"};
  EXPECT_EQ(events, expected);
}

TEST_F(TindraTest, WrittenStringsGoToGroupReadWhenItIsSet) {
  Install(TINDRA_STANDIN);
  TKvrConnect c;
  std::vector<std::string> events;
  std::vector<std::string> values;
  Open(c, events);
  c.OnGroupRead = [&values](TKvrConnect&, std::string_view v, bool&) { values.emplace_back(v); };
  c.Execute("w \"ab\",!,\"cd\" d wo^%srv(\"v\")");
  EXPECT_EQ(values, (std::vector<std::string>{"ab", "cd", "v"}));
  EXPECT_EQ(events, std::vector<std::string>{"\r\n"});
}

TEST_F(TindraTest, ExecuteOutputRunsTheCodeAndFiresNoGroupEvent) {
  Install(TINDRA_STANDIN);
  TKvrConnect c;
  std::vector<std::string> events;
  Open(c, events);
  EXPECT_EQ(c.ExecuteOutput("w 1+1,! s z=3"), "");
  EXPECT_EQ(events, (std::vector<std::string>{"2", "\r\n"}));
  EXPECT_EQ(c.Read("z"), "3");
}

TEST_F(TindraTest, HandlerFailureStopsTheCodeAndReachesTheCaller) {
  Install(TINDRA_STANDIN);
  TKvrConnect c;
  std::vector<std::string> events;
  Open(c, events);
  c.OnTerminalOutput = [](TKvrConnect&, std::string_view) { throw std::runtime_error("full"); };
  try {
    c.Execute("w 1 s z=1");
    ADD_FAILURE() << "no error raised";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "full");
  }
  EXPECT_EQ(c.Read("$D(z)"), "0");
  c.OnTerminalOutput = nullptr;
  c.Execute("w 1 s z=1");
  EXPECT_EQ(c.Read("z"), "1");
}

// ---- Failures of the machine ------------------------------------------------------

TEST_F(TindraTest, FailingOperationsReportTheMachineErrorText) {
  Install(TINDRA_STANDIN);
  TKvrConnect c;
  std::vector<std::string> events;
  Open(c, events);
  EXPECT_EQ(Failure([&] { c.Execute("w nosuch"); }), "<UNDEFINED> *nosuch");
  EXPECT_EQ(Failure([&] { c.Read("nosuch(1)"); }), "<UNDEFINED> *nosuch(1)");
  EXPECT_EQ(Failure([&] { c.Read("1+"); }), "<SYNTAX>");
  EXPECT_EQ(Failure([&] { c.Write("1x", "v"); }), "<SYNTAX>");
  EXPECT_EQ(Failure([&] { c.Kill("1x"); }), "<SYNTAX>");
  // The machine stays usable after each failure.
  c.Execute("s ok=\"yes\"");
  EXPECT_EQ(c.Read("ok"), "yes");
}

TEST_F(TindraTest, TextsLongerThanTheMachineHandsOutFailInsteadOfBeingCut) {
  Install(TINDRA_STANDIN);
  TKvrConnect c;
  c.TindraOverrides.MaxText = 3;
  std::vector<std::string> events;
  Open(c, events);
  EXPECT_EQ(c.Read("\"abc\""), "abc");
  EXPECT_EQ(Failure([&] { c.Read("\"abcd\""); }), "<MAXSTRING>");
  EXPECT_EQ(Failure([&] { c.Execute("w \"abcd\""); }), "<MAXSTRING>");
  EXPECT_TRUE(events.empty());
}

// ---- Lifetime ----------------------------------------------------------------------

TEST_F(TindraTest, CloseFreesTheMachineAndReopenStartsAFreshOne) {
  Install(TINDRA_STANDIN);
  TKvrConnect c;
  std::vector<std::string> events;
  Open(c, events);
  c.Write("^G", "kept in memory only");
  c.SetActive(false);
  EXPECT_FALSE(c.Active());
  EXPECT_FALSE(Loaded());
  EXPECT_EQ(Failure([&] { c.Read("1"); }), "Connect does not exist.");
  c.SetActive(true);
  ASSERT_TRUE(c.Active());
  EXPECT_EQ(c.Read("$D(^G)"), "0");
  c.Execute("w \"again\"");
  EXPECT_EQ(events, std::vector<std::string>{"again"});
}

TEST_F(TindraTest, SecondMachineIsRefusedAndTheFirstKeepsWorking) {
  Install(TINDRA_STANDIN);
  TKvrConnect first;
  std::vector<std::string> firstEvents;
  Open(first, firstEvents);
  first.Write("x", "first");
  {
    TKvrConnect second;
    std::vector<std::string> secondEvents;
    second.OnTerminalOutput = [&](TKvrConnect&, std::string_view v) {
      secondEvents.emplace_back(v);
    };
    EXPECT_EQ(OpenFailure(second), "CreateTindraVM: Tindra virtual machine already been created");
    // The newest connection does not take over the machine's output.
    first.Execute("w x");
    EXPECT_EQ(firstEvents, std::vector<std::string>{"first"});
    EXPECT_TRUE(secondEvents.empty());
  }
  // Destroying the refused connection neither freed nor unloaded the machine.
  EXPECT_TRUE(Loaded());
  EXPECT_EQ(first.Read("x"), "first");
  first.Execute("w 2");
  EXPECT_EQ(firstEvents, (std::vector<std::string>{"first", "2"}));

  first.SetActive(false);
  TKvrConnect third;
  std::vector<std::string> thirdEvents;
  Open(third, thirdEvents);
  EXPECT_EQ(third.Read("$D(x)"), "0");
}

TEST_F(TindraTest, DestroyingAnOpenConnectionFreesTheMachine) {
  Install(TINDRA_STANDIN);
  std::vector<std::string> events;
  {
    TKvrConnect c;
    Open(c, events);
  }
  TKvrConnect next;
  Open(next, events);
  EXPECT_EQ(next.Read("1+1"), "2");
}

}  // namespace
}  // namespace kovra
