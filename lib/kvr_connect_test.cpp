// TKvrConnect against a scripted server: the opening sequence, the request
// bytes, the command loop and the raw output path, in both segmentations.
#include <gtest/gtest.h>

#include <stdexcept>
#include <fstream>
#include <cstdlib>
#include <unistd.h>
#include <string>
#include <vector>

#include "kvr_connect.h"
#include "scripted_peer.h"

namespace kovra {
namespace {

using testing::ScriptedPeer;
using testing::Z;

class ConnectionTest : public ::testing::TestWithParam<ScriptedPeer::Segmentation> {
 protected:
  ConnectionTest() : peer_(GetParam()) {
    conn_.SetServerAddress("127.0.0.1");
    conn_.SetServerPort(peer_.Port());
    conn_.OnGroupRead = [this](TKvrConnect&, std::string_view v, bool& c) {
      groups_.emplace_back(v);
      c = continueGroups_;
    };
    conn_.OnConnectError = [this](TKvrConnect&, TConnectError e) { errors_.push_back(e); };
  }

  // The script's opening: the server greets with a job identifier.
  ScriptedPeer& Greet() { return peer_.Send(Z("<OK>:job|")); }

  void Open() {
    peer_.Start();
    conn_.SetActive(true);
  }

  // Opens with active credentials: the peer expects the connect request
  // carrying them, then greets.
  void OpenWithCredentials(const std::string& user, const std::string& password,
                           const std::string& application) {
    conn_.Authorization = {true, user, password, application};
    TMList list;
    const std::vector<TMList::Value> items{user, password, application};
    list.Build(items);
    peer_.Expect("MR:cr:%SYS:" + std::to_string(list.Data().size()) + '\0' + list.Data());
    Greet();
    Open();
  }

  // Closes the client side and returns the peer's verdict.
  std::string Finish() {
    conn_.SetActive(false);
    return peer_.Finish();
  }

  ScriptedPeer peer_;
  TKvrConnect conn_;
  std::vector<std::string> groups_;
  std::vector<TConnectError> errors_;
  bool continueGroups_ = true;
};

INSTANTIATE_TEST_SUITE_P(Segmentation, ConnectionTest,
                         ::testing::Values(ScriptedPeer::Segmentation::kWhole,
                                           ScriptedPeer::Segmentation::kBytewise),
                         [](const auto& info) {
                           return info.param == ScriptedPeer::Segmentation::kWhole ? "Whole"
                                                                                   : "Bytewise";
                         });

// ---- Opening sequence ------------------------------------------------------

TEST_P(ConnectionTest, GreetingWithJobOpensWithoutSendingAnythingFirst) {
  peer_.Send(Z("junk<OK>:job7|"));
  Open();
  EXPECT_TRUE(conn_.Active());
  EXPECT_EQ(conn_.JobId(), "job7");
  EXPECT_FALSE(conn_.ActiveSession());
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, ConnectGreetingRunsTheLoginOnTheSameConnection) {
  peer_.Send(Z("<CONNECT>:a:b|")).Expect(Z("lg:|")).Send(Z("<OK>:s1:x|"));
  Open();
  EXPECT_TRUE(conn_.Active());
  EXPECT_EQ(conn_.SessionId(), "s1:x");
  EXPECT_TRUE(conn_.ActiveSession());
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, LoginRefusalsLeaveTheConnectionClosed) {
  conn_.ErrorHandler = htEvent;
  peer_.Send(Z("<CONNECT>:a:b|")).Expect(Z("lg:|")).Send(Z("<INVALID TYPE>|"));
  peer_.Accept().Send(Z("<CONNECT>:a:b|")).Expect(Z("lg:|")).Send(Z("<NO JOB>|"));
  Open();
  EXPECT_FALSE(conn_.Active());
  conn_.SetActive(true);
  EXPECT_FALSE(conn_.Active());
  EXPECT_EQ(conn_.Socket(), -1);
  EXPECT_EQ(errors_, (std::vector<TConnectError>{ceBadFormat, ceInvalidType}));
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, RefusalMarkersReportTheirKindAndKeepTheMarker) {
  conn_.ErrorHandler = htEvent;
  const std::vector<std::pair<std::string, TConnectError>> cases{
      {"<INVALID TYPE>", ceInvalidType}, {"<NO JOB>", ceNoJob},    {"<NO SESSION>", ceNoSession},
      {"<CONNECT>", ceUnknown},          {"HELLO", ceBadFormat},
  };
  peer_.Send(Z(cases[0].first + "|"));
  for (std::size_t i = 1; i < cases.size(); ++i) peer_.Accept().Send(Z(cases[i].first + "|"));
  peer_.Start();
  for (const auto& [marker, kind] : cases) {
    errors_.clear();
    conn_.SetActive(true);
    EXPECT_FALSE(conn_.Active()) << marker;
    EXPECT_EQ(errors_, std::vector<TConnectError>{kind}) << marker;
    EXPECT_EQ(conn_.MError, kind == ceBadFormat ? "Unknown format of received data." : marker);
  }
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, RefusalWithExceptionsIsAbsorbedByTheConnectStep) {
  std::vector<bool> ends;
  int begins = 0;
  conn_.OnBeginConnect = [&](TKvrConnect&) { ++begins; };
  conn_.OnEndConnect = [&](TKvrConnect&, bool connected) { ends.push_back(connected); };
  peer_.Send(Z("<NO SESSION>|"));
  Open();
  EXPECT_FALSE(conn_.Active());
  EXPECT_EQ(begins, 1);
  EXPECT_EQ(ends, std::vector<bool>{false});
  EXPECT_EQ(conn_.BusyCount(), 0);
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, ActiveAuthorizationSendsTheConnectRequestFirst) {
  OpenWithCredentials("me", "pw", "app");
  EXPECT_TRUE(conn_.Active());
  EXPECT_EQ(Finish(), "");
}

// The trace of the greeting's credentials shows the user and the
// application but writes the password element as ***.
TEST_P(ConnectionTest, TraceMasksThePasswordOfTheCredentials) {
  char dir[] = "/tmp/kovra-trace-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/trace";
  ::setenv("KOVRA_TRACE", path.c_str(), 1);
  OpenWithCredentials("me", "secret-pw", "app");
  EXPECT_TRUE(conn_.Active());
  EXPECT_EQ(Finish(), "");
  ::unsetenv("KOVRA_TRACE");
  std::ifstream in(path);
  const std::string trace((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ::unlink(path.c_str());
  ::rmdir(dir);
  EXPECT_EQ(trace.find("secret"), std::string::npos) << trace;
  // "me" is element one (length 4, type 1); the password element is gone.
  EXPECT_NE(trace.find(" > MR:cr:%SYS:20\\x00\\x04\\x01me***\\x05\\x01app\n"), std::string::npos)
      << trace;
}

// ---- Requests and the command loop -----------------------------------------

TEST_P(ConnectionTest, DataOperationsSendExactRequestBytes) {
  Greet()
      .Expect(Z("r|5|$H+0a"))
      .Send(Z("<GO ON>:2|42<OK>|"))
      .Expect(Z("w|1|a1|b"))
      .Send(Z("<OK>|"))
      .Expect(Z("x|3|w 1"))
      .Send(Z("<OK>|"))
      .Expect(Z("k|5|^X(1)"))
      .Send(Z("<OK>|"));
  Open();
  EXPECT_EQ(conn_.Read("$H+0a"), "42");
  EXPECT_EQ(conn_.Write("a", "b"), "");
  EXPECT_EQ(conn_.Execute("w 1"), "");
  EXPECT_EQ(conn_.Kill("^X(1)"), "");
  EXPECT_EQ(conn_.BusyCount(), 0);
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, GroupValuesReachTheEventOneBehindAndTheLastIsTheResult) {
  Greet().Expect(Z("r|1|g")).Send(Z("<GO ON>:1|A<GO ON>:1|B<OK>:ignored|"));
  Open();
  EXPECT_EQ(conn_.Read("g"), "B");
  EXPECT_EQ(groups_, std::vector<std::string>{"A"});
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, ExecuteHandsTheLastValueToTheEventAfterTheCommand) {
  Greet()
      .Expect(Z("x|1|g"))
      .Send(Z("<GO ON>:1|A<GO ON>:2|B|<OK>|"))
      .Expect(Z("x|1|n"))
      .Send(Z("<OK>|"));
  Open();
  EXPECT_EQ(conn_.Execute("g"), Z("B|"));
  EXPECT_EQ(conn_.Execute("n"), "");
  EXPECT_EQ(groups_, (std::vector<std::string>{"A", Z("B|"), ""}));
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, GroupStoppedByTheEventLeavesTheRawReplyAsResult) {
  continueGroups_ = false;
  Greet().Expect(Z("r|1|g")).Send(Z("<GO ON>:1|A<GO ON>:1|B"));
  Open();
  EXPECT_EQ(conn_.Read("g"), Z("<GO ON>:1|B"));
  EXPECT_EQ(groups_, std::vector<std::string>{"A"});
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, EmptyHeadersBetweenRepliesAreSkipped) {
  Greet().Expect(Z("r|1|v")).Send(Z("||<GO ON>:1|V||<OK>|"));
  Open();
  EXPECT_EQ(conn_.Read("v"), "V");
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, CallbackIsAnsweredWithTheHandlersResult) {
  std::vector<std::string> commands;
  conn_.OnCallback = [&](TKvrConnect&, std::string_view command, std::string& result) {
    commands.emplace_back(command);
    result = "OK";
  };
  Greet()
      .Expect(Z("x|1|c"))
      .Send(Z("<CALLBACK>f:4|do|x"))
      .Expect(Z("c|2|OK"))
      .Send(Z("<GO ON>:1|1<OK>|"));
  Open();
  EXPECT_EQ(conn_.Execute("c"), "1");
  EXPECT_EQ(commands, std::vector<std::string>{Z("do|x")});
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, CallbackWithoutHandlerIsAnsweredEmpty) {
  Greet().Expect(Z("x|1|c")).Send(Z("<CALLBACK>f:2|do")).Expect(Z("c|0|")).Send(Z("<OK>|"));
  Open();
  EXPECT_EQ(conn_.Execute("c"), "");
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, ServerMessagesWithPositiveIdentifierAreAcknowledged) {
  Greet()
      .Expect(Z("x|1|m"))
      .Send(Z("<ONMSGCALLBACK>12:note|<ONMSGCALLBACK>0:quiet|"))
      .Expect(Z("<CALLBACK>12:0|"))
      .Send(Z("<OK>|"))
      .Expect(Z("x|1|m"))
      .Send(Z("<ONMSGCALLBACK>ab:x|<OK>|"));
  Open();
  EXPECT_EQ(conn_.Execute("m"), "");
  try {
    conn_.Execute("m");
    ADD_FAILURE() << "a non-numeric identifier must end the command";
  } catch (const EKovraError& e) {
    EXPECT_EQ(e.Message(), "'ab' is not a valid integer value");
  }
  EXPECT_EQ(conn_.BusyCount(), 0);
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, UnexpectedReplyRaisesTheInternalErrorByteForByte) {
  conn_.ErrorHandler = htEvent;  // the server error is raised whatever the handler
  Greet().Expect(Z("x|3|w 1")).Send(Z("ERR|"));
  Open();
  try {
    conn_.Execute("w 1");
    ADD_FAILURE() << "no error raised";
  } catch (const EMConnectError& e) {
    EXPECT_EQ(e.Message(),
              Z("Internal server error: 'ERR|' while executing Last SuccessFull CallBack:  "
                "Last Executed Command: x_$C(0)_3_$C(0)_w 1"));
  }
  EXPECT_TRUE(conn_.Active());
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, InternalErrorQuotesTheLastCallbackAndAnswer) {
  conn_.OnCallback = [](TKvrConnect&, std::string_view, std::string& r) { r = "R"; };
  Greet()
      .Expect(Z("x|1|c"))
      .Send(Z("<CALLBACK>f:3|a\rb"))
      .Expect(Z("c|1|R"))
      .Send(Z("<ERROR> ZX|"));
  Open();
  try {
    conn_.Execute("c");
    ADD_FAILURE() << "no error raised";
  } catch (const EMConnectError& e) {
    EXPECT_EQ(e.Message(),
              Z("Internal server error: '<ERROR> ZX|' while executing Last SuccessFull CallBack: "
                "a_$C(13)_b Last Executed Command: c_$C(0)_1_$C(0)_R"));
  }
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, BreakFlowReplyEndsQuietlyOnlyWhenAllowed) {
  Greet()
      .Expect(Z("x|1|b"))
      .Send(Z("<ZBRKF>stop|"))
      .Expect(Z("x|1|b"))
      .Send(Z("<ZBRKF>stop|"));
  Open();
  EXPECT_THROW(conn_.Execute("b"), EMConnectError);
  conn_.RaiseBreakFlowError = false;
  EXPECT_EQ(conn_.Execute("b"), Z("<ZBRKF>stop|"));
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, PeerClosingMidReplyDropsTheConnection) {
  Greet().Expect(Z("r|1|v")).Send(Z("<GO ON>:10|abc")).Close();
  Open();
  try {
    conn_.Read("v");
    ADD_FAILURE() << "no error raised";
  } catch (const EMConnectError& e) {
    EXPECT_EQ(e.ErrorKind(), ceSocketNotConnected);
    EXPECT_STREQ(e.what(), "Socket is not connected.");
  }
  EXPECT_FALSE(conn_.Active());
  EXPECT_EQ(conn_.Socket(), -1);
  EXPECT_EQ(conn_.BusyCount(), 0);
  EXPECT_EQ(Finish(), "");
}

// With events instead of exceptions, a closed peer must end the wait rather
// than poll a released descriptor.
TEST_P(ConnectionTest, PeerClosingWithEventHandlerEndsTheWait) {
  conn_.ErrorHandler = htEvent;
  Greet().Expect(Z("r|1|v")).Close();
  Open();
  EXPECT_EQ(conn_.Read("v"), "");
  EXPECT_EQ(errors_, std::vector<TConnectError>{ceSocketNotConnected});
  EXPECT_FALSE(conn_.Active());
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, ReplyThatCanNeverFitIsABadFormatAndDropsTheConnection) {
  Greet().Expect(Z("r|1|v")).Send(Z("<GO ON>:40000|"));
  Open();
  try {
    conn_.Read("v");
    ADD_FAILURE() << "no error raised";
  } catch (const EMConnectError& e) {
    EXPECT_EQ(e.ErrorKind(), ceBadFormat);
    EXPECT_STREQ(e.what(), "Not compatible server data format.");
  }
  EXPECT_FALSE(conn_.Active());
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, HeaderWithoutEndFillingTheBufferIsABadFormat) {
  Greet().Expect(Z("r|1|v")).Send(std::string(32768, 'h'));
  Open();
  EXPECT_THROW(conn_.Read("v"), EMConnectError);
  EXPECT_FALSE(conn_.Active());
  EXPECT_EQ(Finish(), "");
}

// Bodies up to the whole receive buffer complete: the header is set aside
// first, so a value of 32767 bytes (the longest M string) and more arrives.
TEST_P(ConnectionTest, BodiesUpToTheWholeBufferComplete) {
  const std::vector<std::size_t> sizes{32754, 32755, 32767, 32768};
  std::string commands;
  conn_.OnCallback = [&](TKvrConnect&, std::string_view command, std::string&) {
    commands = command;
  };
  Greet();
  for (const std::size_t size : sizes) {
    const std::string body(size, static_cast<char>('a' + size % 26));
    peer_.Expect(Z("r|1|v"))
        .Send(Z("<GO ON>:" + std::to_string(size) + "|") + body + Z("<OK>|"));
  }
  const std::string command(32768, 'c');
  peer_.Expect(Z("x|1|c")).Send(Z("<CALLBACK>f:32768|") + command).Expect(Z("c|0|")).Send(Z("<OK>|"));
  Open();
  for (const std::size_t size : sizes) {
    EXPECT_EQ(conn_.Read("v"), std::string(size, static_cast<char>('a' + size % 26))) << size;
  }
  conn_.Execute("c");
  EXPECT_EQ(commands, command);
  EXPECT_TRUE(conn_.Active());
  EXPECT_EQ(Finish(), "");
}

// An event handler that fails while its command is on the wire leaves the
// command's replies half read: the connection is dropped, so that no later
// command takes them for its own, and the handler's failure passes on.
TEST_P(ConnectionTest, FailingEventHandlerDropsTheConnection) {
  conn_.OnGroupRead = [](TKvrConnect&, std::string_view, bool&) {
    throw std::runtime_error("group handler failed");
  };
  // The handler runs when the second value arrives, the last bytes the peer
  // sends: the command's end never comes.
  Greet().Expect(Z("r|1|g")).Send(Z("<GO ON>:1|A<GO ON>:1|B"));
  Open();
  try {
    conn_.Read("g");
    ADD_FAILURE() << "no error raised";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "group handler failed");
  }
  EXPECT_FALSE(conn_.Active());
  EXPECT_EQ(conn_.Socket(), -1);
  EXPECT_EQ(conn_.BusyCount(), 0);
  EXPECT_THROW(conn_.Read("g"), EMConnectError);
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, FailingCallbackHandlerDropsTheConnectionUnanswered) {
  conn_.OnCallback = [](TKvrConnect&, std::string_view, std::string&) {
    throw std::runtime_error("callback failed");
  };
  // The peer fails the script if any answer arrives after the call-back.
  Greet().Expect(Z("x|1|c")).Send(Z("<CALLBACK>f:1|c"));
  Open();
  EXPECT_THROW(conn_.Execute("c"), std::runtime_error);
  EXPECT_FALSE(conn_.Active());
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, FailingOutputHandlerDropsTheConnection) {
  conn_.OnTerminalOutput = [](TKvrConnect&, std::string_view) {
    throw std::runtime_error("output failed");
  };
  // One full piece: the handler runs once the peer has sent everything.
  Greet().Expect(Z("t|1|w")).Send(std::string(2048, 'o'));
  Open();
  EXPECT_THROW(conn_.ExecuteOutput("w"), std::runtime_error);
  EXPECT_FALSE(conn_.Active());
  EXPECT_EQ(Finish(), "");
}

// A reconnect made to send a request opens silently; the request then goes
// out exactly once on the new connection.
TEST_P(ConnectionTest, ReconnectBySendSendsThePendingRequestOnce) {
  conn_.ErrorHandler = htEvent;
  Greet().Close().Accept().Send(Z("<OK>:job2|")).Expect(Z("r|1|v")).Send(Z("<GO ON>:1|V<OK>|"));
  Open();
  ASSERT_TRUE(conn_.Active());
  // The first read meets the closed peer and drops the connection.
  EXPECT_EQ(conn_.Read("v"), "");
  EXPECT_FALSE(conn_.Active());
  errors_.clear();
  EXPECT_EQ(conn_.Read("v"), "V");
  EXPECT_EQ(errors_, std::vector<TConnectError>{ceNotConnected});
  EXPECT_EQ(conn_.JobId(), "job2");
  EXPECT_EQ(Finish(), "");
}

// ---- Execute with terminal output --------------------------------------------

TEST_P(ConnectionTest, TerminalOutputArrivesInChunksOf2048) {
  std::vector<std::size_t> sizes;
  std::string output;
  conn_.OnTerminalOutput = [&](TKvrConnect&, std::string_view text) {
    sizes.push_back(text.size());
    output += text;
  };
  std::string raw;
  for (int i = 0; i < 5000; ++i) raw += static_cast<char>('a' + i % 26);
  Greet().Expect(Z("t|5|w out")).Send(raw + Z("|<OK>|"));
  Open();
  EXPECT_EQ(conn_.ExecuteOutput("w out"), Z("<OK>|"));
  EXPECT_EQ(sizes, (std::vector<std::size_t>{2048, 2048, 904}));
  EXPECT_EQ(output, raw);
  EXPECT_TRUE(groups_.empty());
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, TerminalOutputOfExactlyOneChunkIsDeliveredOnce) {
  std::vector<std::size_t> sizes;
  conn_.OnTerminalOutput = [&](TKvrConnect&, std::string_view t) { sizes.push_back(t.size()); };
  Greet().Expect(Z("t|1|w")).Send(std::string(2048, 'x') + Z("|<OK>|")).Expect(Z("t|1|w")).Send(Z("|<OK>|"));
  Open();
  conn_.ExecuteOutput("w");
  conn_.ExecuteOutput("w");
  EXPECT_EQ(sizes, std::vector<std::size_t>{2048});
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, PeerClosingDuringTerminalOutputDropsTheConnection) {
  std::string output;
  conn_.OnTerminalOutput = [&](TKvrConnect&, std::string_view t) { output += t; };
  Greet().Expect(Z("t|1|w")).Send("partial").Close();
  Open();
  try {
    conn_.ExecuteOutput("w");
    ADD_FAILURE() << "no error raised";
  } catch (const EMConnectError& e) {
    EXPECT_EQ(e.ErrorKind(), ceSocketNotConnected);
  }
  EXPECT_FALSE(conn_.Active());
  EXPECT_EQ(Finish(), "");
}

TEST_P(ConnectionTest, RejectedTerminalCommandRaisesTheInternalError) {
  Greet()
      .Expect(Z("t|1|w"))
      .Send(Z("out|ERR|"))
      .Expect(Z("t|1|w"))
      .Send(Z("|<ZBRKF>|"));
  Open();
  try {
    conn_.ExecuteOutput("w");
    ADD_FAILURE() << "no error raised";
  } catch (const EMConnectError& e) {
    EXPECT_EQ(e.Message(), Z("Internal server error: 'ERR|' while executing Last SuccessFull "
                             "CallBack:  Last Executed Command: t_$C(0)_1_$C(0)_w"));
  }
  conn_.RaiseBreakFlowError = false;
  EXPECT_EQ(conn_.ExecuteOutput("w"), Z("<ZBRKF>|"));
  EXPECT_EQ(Finish(), "");
}

}  // namespace
}  // namespace kovra
