// TKvrConnect against a server that misbehaves: lengths it cannot honour,
// headers that never end, streams that never end, stalls and resets. Every
// case must end with a value or an error, never with a hang or a crash.
//
// The protocol has no time-out of its own: a reply is awaited for as long as
// the connection lives. What ends the wait for a silent or endless server is
// the server closing or resetting the connection (and, for a host program, a
// signal). The cases below stall for a while and then end the connection,
// and check that this ends the wait.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kvr_connect.h"
#include "scripted_peer.h"

namespace kovra {
namespace {

using testing::ScriptedPeer;
using testing::Z;

// One scripted server and one client connected to it.
struct Session {
  ScriptedPeer peer;
  TKvrConnect conn;
  std::vector<std::string> output;
  int terminalNotices = 0;
  int groupValues = 0;

  Session() {
    conn.SetServerAddress("127.0.0.1");
    conn.SetServerPort(peer.Port());
    conn.OnTerminalOutput = [this](TKvrConnect&, std::string_view text) {
      if (text.empty()) {
        ++terminalNotices;
      } else {
        output.emplace_back(text);
      }
    };
    conn.OnGroupRead = [this](TKvrConnect&, std::string_view, bool&) { ++groupValues; };
  }

  ScriptedPeer& Greet() { return peer.Send(Z("<OK>:job|")); }

  void Open() {
    peer.Start();
    conn.SetActive(true);
  }

  std::string Finish() {
    conn.SetActive(false);
    return peer.Finish();
  }
};

// Runs op and returns the kind of the EMConnectError it raised; fails the
// test when it raised nothing.
template <typename Op>
TConnectError KindRaisedBy(Op&& op) {
  try {
    op();
  } catch (const EMConnectError& e) {
    return e.ErrorKind();
  }
  ADD_FAILURE() << "no error raised";
  return ceUnknown;
}

// ---- Lengths and headers -------------------------------------------------------

// Lengths that are not a plain decimal number announce an empty body, as any
// non-number does; the bytes behind them are the next reply.
TEST(HostileServer, NegativeOrOverflowingLengthsAnnounceAnEmptyBody) {
  const std::vector<std::string> headers{
      "<GO ON>:-5", "<GO ON>:+5", "<GO ON>: 5", "<GO ON>:99999999999999999999999999",
      "<GO ON>:18446744073709551621", "<CALLBACK>cb:-1"};
  for (const std::string& header : headers) {
    Session s;
    s.Greet().Expect(Z("r|1|v"));
    if (header.starts_with("<CALLBACK>")) {
      // An empty call-back command, answered empty; the command goes on.
      s.peer.Send(Z(header + "|")).Expect(Z("c|0|")).Send(Z("<GO ON>:2|ok<OK>|"));
    } else {
      s.peer.Send(Z(header + "|<OK>|"));
    }
    s.Open();
    EXPECT_EQ(s.conn.Read("v"), header.starts_with("<CALLBACK>") ? "ok" : "") << header;
    EXPECT_TRUE(s.conn.Active()) << header;
    EXPECT_EQ(s.Finish(), "") << header;
  }
}

// A body announced beyond the receive buffer is refused as soon as its header
// arrives; the client never waits for bytes that could not be stored.
TEST(HostileServer, LengthsBeyondTheBufferAreABadFormatAtOnce) {
  const std::vector<std::string> headers{"<GO ON>:32769", "<GO ON>:2147483648",
                                         "<GO ON>:4294967296", "<GO ON>:9223372036854775808",
                                         "<CALLBACK>cb:4294967295"};
  for (const std::string& header : headers) {
    Session s;
    // The server stays silent after the header: only the refusal ends the wait.
    s.Greet().Expect(Z("r|1|v")).Send(Z(header + "|"));
    s.Open();
    EXPECT_EQ(KindRaisedBy([&] { s.conn.Read("v"); }), ceBadFormat) << header;
    EXPECT_FALSE(s.conn.Active()) << header;
    EXPECT_EQ(s.conn.Socket(), -1) << header;
    EXPECT_EQ(s.conn.BusyCount(), 0) << header;
    EXPECT_EQ(s.Finish(), "") << header;
  }
}

TEST(HostileServer, HeaderWithoutNulEndsWithTheConnection) {
  for (const bool reset : {false, true}) {
    Session s;
    s.Greet().Expect(Z("x|1|w")).Send("<OK>").Pause(300);
    if (reset) {
      s.peer.Reset();
    } else {
      s.peer.Close();
    }
    s.Open();
    EXPECT_EQ(KindRaisedBy([&] { s.conn.Execute("w"); }), ceSocketNotConnected);
    EXPECT_FALSE(s.conn.Active());
    EXPECT_EQ(s.Finish(), "");
  }
}

// An identifier that is no integer ends the command with a conversion error
// once the command's remaining replies are read; one that is not positive is not acknowledged, and the command goes on.
TEST(HostileServer, MessageIdentifiersOutOfRangeAreNeverAcknowledged) {
  Session s;
  s.Greet()
      .Expect(Z("x|1|a"))
      .Send(Z("<ONMSGCALLBACK>99999999999999999999:m|<OK>|"))
      .Expect(Z("x|1|b"))
      .Send(Z("<ONMSGCALLBACK>-7:m|<ONMSGCALLBACK>0:m|<OK>|"));
  s.Open();
  EXPECT_THROW(s.conn.Execute("a"), EKovraError);
  EXPECT_TRUE(s.conn.Active());
  EXPECT_EQ(s.conn.BusyCount(), 0);
  EXPECT_EQ(s.conn.Execute("b"), "");
  EXPECT_EQ(s.Finish(), "");
}

// ---- Streams that never end ------------------------------------------------------

// "Endless" here is far more than any buffer holds; the stream then ends with
// the connection, which must be reported, not taken as the command's end.
TEST(HostileServer, EndlessTerminalNoticesEndWithTheConnection) {
  constexpr int kNotices = 100000;
  std::string stream;
  for (int i = 0; i < kNotices; ++i) stream += Z("<TERMINAL>|");
  Session s;
  s.Greet().Expect(Z("x|1|w")).Send(stream).Close();
  s.Open();
  EXPECT_EQ(KindRaisedBy([&] { s.conn.Execute("w"); }), ceSocketNotConnected);
  EXPECT_EQ(s.terminalNotices, kNotices);
  EXPECT_FALSE(s.conn.Active());
  EXPECT_EQ(s.Finish(), "");
}

TEST(HostileServer, EndlessGroupValuesEndWithTheConnection) {
  constexpr int kValues = 50000;
  std::string stream;
  for (int i = 0; i < kValues; ++i) stream += Z("<GO ON>:3|abc");
  Session s;
  s.Greet().Expect(Z("x|1|w")).Send(stream).Close();
  s.Open();
  EXPECT_EQ(KindRaisedBy([&] { s.conn.Execute("w"); }), ceSocketNotConnected);
  // Every value but the one still held was handed on as it came.
  EXPECT_EQ(s.groupValues, kValues - 1);
  EXPECT_FALSE(s.conn.Active());
  EXPECT_EQ(s.Finish(), "");
}

// Raw output without its closing NUL: handed on in fixed chunks while it
// streams, so memory stays bounded; the end of the connection ends the call.
TEST(HostileServer, TerminalOutputWithoutEndIsDeliveredInChunksUntilTheConnectionEnds) {
  constexpr std::size_t kBytes = 1 << 20;
  for (const bool reset : {false, true}) {
    Session s;
    s.Greet().Expect(Z("t|1|w")).Send(std::string(kBytes, 'o'));
    if (reset) {
      s.peer.Reset();
    } else {
      s.peer.Close();
    }
    s.Open();
    EXPECT_EQ(KindRaisedBy([&] { s.conn.ExecuteOutput("w"); }), ceSocketNotConnected);
    std::size_t total = 0;
    for (const std::string& chunk : s.output) {
      EXPECT_EQ(chunk.size(), 2048u);
      total += chunk.size();
    }
    // A reset may discard bytes still in flight; an orderly close may not.
    if (reset) {
      EXPECT_LE(total, kBytes);
    } else {
      EXPECT_EQ(total, kBytes);
    }
    EXPECT_FALSE(s.conn.Active());
    EXPECT_EQ(s.Finish(), "");
  }
}

// ---- Stalls and resets -----------------------------------------------------------

// A stall of several poll periods is waited out, wherever it falls.
TEST(HostileServer, StallsAreWaitedOutAndTheReplyStillArrives) {
  Session s;
  s.Greet()
      .Expect(Z("r|1|v"))
      .Pause(700)
      .Send(Z("<GO ON>:5|ab"))
      .Pause(500)
      .Send(Z("cde<O"))
      .Pause(300)
      .Send(Z("K>|"));
  s.Open();
  EXPECT_EQ(s.conn.Read("v"), "abcde");
  EXPECT_TRUE(s.conn.Active());
  EXPECT_EQ(s.Finish(), "");
}

// A server that greets and then never answers: only the end of the
// connection ends the wait, with an error and without a descriptor left.
TEST(HostileServer, SilentServerAfterTheGreetingEndsWithTheConnection) {
  for (const bool events : {false, true}) {
    Session s;
    std::vector<TConnectError> errors;
    if (events) {
      s.conn.ErrorHandler = htEvent;
      s.conn.OnConnectError = [&](TKvrConnect&, TConnectError e) { errors.push_back(e); };
    }
    s.Greet().Expect(Z("r|1|v")).Pause(600).Close();
    s.Open();
    if (events) {
      EXPECT_EQ(s.conn.Read("v"), "");
      EXPECT_EQ(errors, std::vector<TConnectError>{ceSocketNotConnected});
    } else {
      EXPECT_EQ(KindRaisedBy([&] { s.conn.Read("v"); }), ceSocketNotConnected);
    }
    EXPECT_FALSE(s.conn.Active());
    EXPECT_EQ(s.conn.Socket(), -1);
    EXPECT_EQ(s.Finish(), "");
  }
}

// A server that accepts and never greets, or greets with a header that never
// ends, leaves the connection closed.
TEST(HostileServer, ServerThatNeverGreetsProperlyLeavesTheConnectionClosed) {
  for (const bool endless : {false, true}) {
    Session s;
    if (endless) {
      s.peer.Send(std::string(32768, 'g')).Pause(300).Close();
    } else {
      s.peer.Pause(400).Reset();
    }
    s.Open();
    EXPECT_FALSE(s.conn.Active()) << endless;
    EXPECT_EQ(s.conn.Socket(), -1) << endless;
    EXPECT_EQ(s.conn.BusyCount(), 0) << endless;
    EXPECT_EQ(s.Finish(), "") << endless;
  }
}

// Resets at each point of a reply: before it, in the header, in the body,
// between two replies of one command, during a call-back's answer.
TEST(HostileServer, ResetAnywhereInAReplyIsASocketError) {
  const std::vector<std::string> sent{"", "<GO O", "<GO ON>:10|abc", "<GO ON>:1|a<GO ON>:1|b",
                                      "<TERMINAL>|<TERMINAL>"};
  for (const std::string& before : sent) {
    Session s;
    s.Greet().Expect(Z("r|1|v")).Send(Z(before)).Reset();
    s.Open();
    EXPECT_EQ(KindRaisedBy([&] { s.conn.Read("v"); }), ceSocketNotConnected) << before;
    EXPECT_FALSE(s.conn.Active()) << before;
    EXPECT_EQ(s.conn.BusyCount(), 0) << before;
    EXPECT_EQ(s.Finish(), "") << before;
  }
  Session s;
  s.Greet().Expect(Z("x|1|w")).Send(Z("<CALLBACK>cb:1|q")).Expect(Z("c|0|")).Reset();
  s.Open();
  EXPECT_EQ(KindRaisedBy([&] { s.conn.Execute("w"); }), ceSocketNotConnected);
  EXPECT_EQ(s.Finish(), "");
}

}  // namespace
}  // namespace kovra
