// kvrdevserver as a process: the bytes of every request form, call-backs,
// segmentation, concurrency, malformed input, stopping and the journal.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "kvr_connect.h"
#include "process.h"
#include "test_client.h"

namespace devserver::testing {
namespace {

using namespace std::string_literals;

// True when text is prefix, then decimal digits, then suffix.
bool isNumbered(std::string_view text, std::string_view prefix, std::string_view suffix) {
  if (!text.starts_with(prefix) || !text.ends_with(suffix)) return false;
  if (text.size() <= prefix.size() + suffix.size()) return false;
  std::string_view digits = text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
  return digits.find_first_not_of("0123456789") == std::string_view::npos;
}

class ServerTest : public ::testing::Test {
 protected:
  // Connects, checks the greeting, and returns the client.
  static TestClient connect(const kvrtest::DevServer& server) {
    TestClient client(server.port());
    std::string greeting = client.readReply();
    EXPECT_TRUE(isNumbered(greeting, "<OK>:", "\0"s)) << greeting;
    return client;
  }

  static std::string execute(TestClient& client, const std::string& line) {
    client.send(request('x', line));
    return client.readReply();
  }

  // The value of an expression, checking the reply forms on the way.
  static std::string read(TestClient& client, const std::string& expression) {
    client.send(request('r', expression));
    std::string reply = client.readReply();
    std::size_t nul = reply.find('\0');
    if (!reply.starts_with("<GO ON>:") || nul == std::string::npos) {
      ADD_FAILURE() << "read " << expression << " got " << reply;
      return reply;
    }
    EXPECT_EQ(reply.substr(0, nul), "<GO ON>:" + std::to_string(reply.size() - nul - 1));
    EXPECT_EQ(client.readReply(), "<OK>\0"s);
    return reply.substr(nul + 1);
  }
};

TEST_F(ServerTest, AnnouncesItsPortAndStartsQuickly) {
  kvrtest::DevServer server;
  EXPECT_TRUE(isNumbered(server.firstLine(), "listening on 127.0.0.1:", "")) << server.firstLine();
  EXPECT_NE(server.port(), 0);
  std::cout << "kvrdevserver --port 0 start-up: " << server.startTime().count() << " us\n";
}

TEST_F(ServerTest, CommandRequestsGetTheirRepliesByteForByte) {
  kvrtest::DevServer server;
  TestClient client = connect(server);

  client.send(request('x', "s a=12"));
  EXPECT_EQ(client.readReply(), "<OK>\0"s);

  client.send(request('r', "a+1"));
  EXPECT_EQ(client.readReply(), "<GO ON>:2\0" "13"s);
  EXPECT_EQ(client.readReply(), "<OK>\0"s);

  client.send(writeRequest("b", "x\0y"s));
  EXPECT_EQ(client.readReply(), "<OK>\0"s);
  EXPECT_EQ(read(client, "b"), "x\0y"s);

  client.send(request('k', "b"));
  EXPECT_EQ(client.readReply(), "<OK>\0"s);
  EXPECT_EQ(read(client, "$d(b)"), "0");

  client.send(request('x', "d wo^%srv(1)"));
  EXPECT_EQ(client.readReply(), "<GO ON>:1\0" "1"s);
  EXPECT_EQ(client.readReply(), "<OK>\0"s);
}

TEST_F(ServerTest, WriteTargetMayUseIndirection) {
  kvrtest::DevServer server;
  TestClient client = connect(server);
  EXPECT_EQ(execute(client, "s rglobal=\"^ROUTINE\""), "<OK>\0"s);
  client.send(writeRequest("@rglobal@(\"ABC\",3)", "line three"));
  EXPECT_EQ(client.readReply(), "<OK>\0"s);
  EXPECT_EQ(read(client, "^ROUTINE(\"ABC\",3)"), "line three");
}

TEST_F(ServerTest, TerminalOutputIsRawThenNulThenTheFinalReply) {
  kvrtest::DevServer server;
  TestClient client = connect(server);
  client.send(request('t', "w \"hi\",!,2"));
  EXPECT_EQ(client.readRawUntilNul(), "hi\r\n2\0"s);
  EXPECT_EQ(client.readReply(), "<OK>\0"s);

  // Outside "t" the same output is dropped.
  EXPECT_EQ(execute(client, "w \"hi\",!,2"), "<OK>\0"s);

  // A NUL would end the raw part early and the rest would be taken for
  // replies, so it is left out of the output.
  client.send(request('t', "w \"a\",$c(0),\"b\""));
  EXPECT_EQ(client.readRawUntilNul(), "ab\0"s);
  EXPECT_EQ(client.readReply(), "<OK>\0"s);

  // The client serves neither call-backs nor values while it reads raw
  // output: asking would wait forever, so neither goes out.
  client.send(request('t', "s x=$$callback^%srv(\"n\",\"c\") d wo^%srv(7) w \"x=\",x"));
  EXPECT_EQ(client.readRawUntilNul(), "x=\0"s);
  EXPECT_EQ(client.readReply(), "<OK>\0"s);

  client.send(request('t', "w 1 w nosuch"));
  EXPECT_EQ(client.readRawUntilNul(), "1\0"s);
  EXPECT_EQ(client.readReply(), "<UNDEFINED> *nosuch\0"s);
}

TEST_F(ServerTest, CallbackRoundTripCarriesTheClientsAnswer) {
  kvrtest::DevServer server;
  TestClient client = connect(server);
  client.send(request('x', "s x=$$callback^%srv(\"n\",\"cmd\")"));
  EXPECT_EQ(client.readReply(), "<CALLBACK>n:3\0cmd"s);
  client.send(request('c', "OK"));
  EXPECT_EQ(client.readReply(), "<OK>\0"s);
  EXPECT_EQ(read(client, "x"), "OK");
}

TEST_F(ServerTest, MessageWithPositiveIdWaitsForItsAcknowledgement) {
  kvrtest::DevServer server;
  TestClient client = connect(server);
  client.send(request('x', "d msg^%srv(5) s after=1"));
  EXPECT_EQ(client.readReply(), "<ONMSGCALLBACK>5:\0"s);
  client.send("<CALLBACK>5:0\0"s);
  EXPECT_EQ(client.readReply(), "<OK>\0"s);

  client.send(request('x', "d msg^%srv(0)"));
  EXPECT_EQ(client.readReply(), "<ONMSGCALLBACK>0:\0"s);
  EXPECT_EQ(client.readReply(), "<OK>\0"s);
}

TEST_F(ServerTest, ErrorReplyLeavesTheConnectionUsable) {
  kvrtest::DevServer server;
  TestClient client = connect(server);
  client.send(request('r', "abc"));
  EXPECT_EQ(client.readReply(), "<UNDEFINED> *abc\0"s);
  EXPECT_EQ(execute(client, "s a=1 s"), "<SYNTAX>\0"s);
  EXPECT_EQ(execute(client, "s a=2"), "<OK>\0"s);
  EXPECT_EQ(read(client, "a"), "2");
}

TEST_F(ServerTest, ConnectRequestIsReadAndNotAnswered) {
  kvrtest::DevServer server;
  TestClient client = connect(server);
  client.send("MR:cr:USER:3\0abc"s);
  EXPECT_EQ(read(client, "1+1"), "2");
}

TEST_F(ServerTest, SegmentedRepliesAssembleToTheSameBytes) {
  kvrtest::DevServer server({}, kvrtest::toolPath("kvrdevserver"), {"--segment", "1"});
  TestClient client = connect(server);
  EXPECT_EQ(execute(client, "s v=\"abcdefghij\""), "<OK>\0"s);
  client.send(request('r', "v"));
  EXPECT_EQ(client.readReply(), "<GO ON>:10\0abcdefghij"s);
  EXPECT_EQ(client.readReply(), "<OK>\0"s);
  client.send(request('t', "w v"));
  EXPECT_EQ(client.readRawUntilNul(), "abcdefghij\0"s);
  EXPECT_EQ(client.readReply(), "<OK>\0"s);
}

TEST_F(ServerTest, TwoClientsHaveTheirOwnLocalsAndShareGlobals) {
  kvrtest::DevServer server;
  TestClient first = connect(server);
  TestClient second = connect(server);
  EXPECT_EQ(execute(first, "s a=1,^shared=\"from first\""), "<OK>\0"s);
  EXPECT_EQ(execute(second, "s a=2"), "<OK>\0"s);
  EXPECT_EQ(read(first, "a"), "1");
  EXPECT_EQ(read(second, "a"), "2");
  EXPECT_EQ(read(second, "^shared"), "from first");
  EXPECT_NE(read(first, "$j"), read(second, "$j"));
}

TEST_F(ServerTest, MalformedRequestsAreRefusedAndClosedWhileOthersAreServed) {
  kvrtest::DevServer server;
  TestClient bystander = connect(server);
  const std::string malformed[] = {
      "q\0"s,                          // unknown type
      "x\0" "1a\0" "s a=1"s,           // bad length
      "x\0" "99999999\0"s,             // length beyond any bound
      "r\0" "-3\0"s,                   // signed length
  };
  for (const std::string& bytes : malformed) {
    TestClient client = connect(server);
    client.send(bytes);
    std::string rest;
    EXPECT_TRUE(client.closedByServer(&rest));
    EXPECT_EQ(rest, "<INVALID TYPE>\0"s);
    EXPECT_EQ(read(bystander, "1+2"), "3");
  }
}

// Damaged and random requests, each on its own connection that is dropped
// without waiting: whatever the bytes do, the server keeps serving.
TEST_F(ServerTest, DamagedRequestsNeverBringTheServerDown) {
  kvrtest::DevServer server;
  TestClient bystander = connect(server);
  const std::string valid[] = {
      request('x', "s a=1,^g(1)=2"), request('r', "$p(\"a,b\",\",\",2)"),
      writeRequest("@x@(1)", "v"),  request('t', "w 1,!"),
      request('k', "^g"),           "<CALLBACK>1:0\0"s,
      "lg:5\0"s,                    "MR:cr:USER:2\0ab"s,
  };
  std::mt19937 random(20261207);
  auto byte = [&random] { return static_cast<char>(random() & 0xff); };
  for (int round = 0; round < 300; ++round) {
    std::string bytes = valid[random() % std::size(valid)];
    switch (random() % 4) {
      case 0:
        bytes[random() % bytes.size()] = byte();
        break;
      case 1:
        bytes.resize(random() % bytes.size());
        break;
      case 2:
        bytes.insert(random() % bytes.size(), 1 + random() % 4, byte());
        break;
      default:
        bytes.clear();
        for (int i = 0; i < 12; ++i) bytes.push_back(byte());
    }
    TestClient client(server.port());
    client.send(bytes);
  }
  EXPECT_EQ(read(bystander, "1+2"), "3");
  TestClient late = connect(server);
  EXPECT_EQ(read(late, "$d(^g)>-1"), "1");
}

TEST_F(ServerTest, RequestOutOfTurnDuringACallbackIsRefused) {
  kvrtest::DevServer server;
  TestClient client = connect(server);
  client.send(request('x', "s x=$$callback^%srv(\"n\",\"cmd\")"));
  EXPECT_EQ(client.readReply(), "<CALLBACK>n:3\0cmd"s);
  client.send(request('x', "s y=1"));
  std::string rest;
  EXPECT_TRUE(client.closedByServer(&rest));
  EXPECT_EQ(rest, "<INVALID TYPE>\0"s);
  TestClient next = connect(server);
  EXPECT_EQ(read(next, "1"), "1");
}

TEST_F(ServerTest, LoginGreetingWantsTheLoginRequestFirst) {
  kvrtest::DevServer server({std::nullopt, true});
  TestClient client(server.port());
  EXPECT_EQ(client.readReply(), "<CONNECT>:a:b\0"s);
  client.send("lg:\0"s);
  EXPECT_TRUE(isNumbered(client.readReply(), "<OK>:", "\0"s));
  EXPECT_EQ(read(client, "1"), "1");

  TestClient early(server.port());
  EXPECT_EQ(early.readReply(), "<CONNECT>:a:b\0"s);
  early.send(request('x', "s a=1"));
  std::string rest;
  EXPECT_TRUE(early.closedByServer(&rest));
  EXPECT_EQ(rest, "<NO SESSION>\0"s);
}

TEST_F(ServerTest, StopSignalEndsTheServerWithStatusZero) {
  for (int number : {SIGTERM, SIGINT}) {
    kvrtest::DevServer server;
    TestClient idle = connect(server);
    server.signal(number);
    EXPECT_EQ(server.waitForExit(), 0) << "signal " << number;
    EXPECT_TRUE(idle.closedByServer());
  }
}

TEST_F(ServerTest, LoopingJobEndsWhenItsClientCloses) {
  kvrtest::DevServer server;
  TestClient other = connect(server);
  {
    TestClient looping = connect(server);
    // A loop that writes nothing never notices a closed socket by itself.
    looping.send(request('x', "l +^BUSY s ^STARTED=1 f  s x=1"));
    bool started = false;
    for (int i = 0; i < 200 && !started; ++i) {
      started = read(other, "$g(^STARTED)") == "1";
      if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_TRUE(started);
    EXPECT_EQ(execute(other, "l +^BUSY:0"), "<OK>\0"s);
    EXPECT_EQ(read(other, "$t"), "0");
  }
  // The job has gone with its client, and its lock with it.
  EXPECT_EQ(execute(other, "l +^BUSY:10"), "<OK>\0"s);
  EXPECT_EQ(read(other, "$t"), "1");
}

TEST_F(ServerTest, NamespaceSwitchIsPerConnectionAndUnknownOnesFail) {
  kvrtest::DevServer server;
  TestClient client = connect(server);
  EXPECT_EQ(execute(client, "zn \"USER\" s ^where=\"user\""), "<OK>\0"s);
  EXPECT_EQ(execute(client, "zn \"NOSUCH\""), "<NAMESPACE>\0"s);
  TestClient other = connect(server);
  EXPECT_EQ(read(other, "$d(^where)"), "0");
  EXPECT_EQ(execute(other, "zn \"USER\""), "<OK>\0"s);
  EXPECT_EQ(read(other, "^where"), "user");
}

TEST_F(ServerTest, AcknowledgedChangesSurviveKillNine) {
  const kvrtest::TempDir temp;
  const std::string& directory = temp.path();
  {
    kvrtest::DevServer server({directory, false});
    TestClient client = connect(server);
    EXPECT_EQ(execute(client, "s ^g(1)=\"one\",^g(2)=\"two\",^g(10)=\"ten\" k ^g(1)"), "<OK>\0"s);
    EXPECT_EQ(execute(client, "zn \"USER\" s ^u(\"k\")=3"), "<OK>\0"s);
    client.send(writeRequest("^bin", "a\0b"s));
    EXPECT_EQ(client.readReply(), "<OK>\0"s);
    server.signal(SIGKILL);
    EXPECT_EQ(server.waitForExit(), -SIGKILL);
  }
  {
    kvrtest::DevServer server({directory, false});
    TestClient client = connect(server);
    EXPECT_EQ(read(client, "$d(^g(1))"), "0");
    EXPECT_EQ(read(client, "^g(2)_^g(10)"), "twoten");
    EXPECT_EQ(read(client, "$o(^g(2))"), "10");
    EXPECT_EQ(execute(client, "zn \"USER\""), "<OK>\0"s);
    EXPECT_EQ(read(client, "^u(\"k\")"), "3");
    EXPECT_EQ(read(client, "^bin"), "a\0b"s);
    EXPECT_EQ(read(client, "$v(\"proc\",6)"),
              std::filesystem::canonical(directory).string() + "/");
  }
}

}  // namespace
}  // namespace devserver::testing

namespace devserver::testing {
namespace {

// Two clients write the same global at once; every acknowledged node must be
// in the journal, in whichever order the two threads reached it.
TEST_F(ServerTest, ConcurrentWritersLoseNothingAfterKillNine) {
  const kvrtest::TempDir temp;
  const std::string& directory = temp.path();
  constexpr int kEach = 100;
  {
    kvrtest::DevServer server({directory, false});
    auto writer = [&server](int id) {
      TestClient client = connect(server);
      for (int i = 0; i < kEach; ++i) {
        std::string line = "s ^c(" + std::to_string(id) + "," + std::to_string(i) + ")=" +
                           std::to_string(i);
        EXPECT_EQ(execute(client, line), "<OK>\0"s);
      }
    };
    std::thread first(writer, 1);
    std::thread second(writer, 2);
    first.join();
    second.join();
    server.signal(SIGKILL);
    EXPECT_EQ(server.waitForExit(), -SIGKILL);
  }
  {
    kvrtest::DevServer server({directory, false});
    TestClient client = connect(server);
    EXPECT_EQ(execute(client, "s n=0 f id=1,2 s s=\"\" f  s s=$o(^c(id,s)) q:s=\"\"  s n=n+1"), "<OK>\0"s);
    EXPECT_EQ(read(client, "n"), std::to_string(2 * kEach));
    EXPECT_EQ(read(client, "^c(2," + std::to_string(kEach - 1) + ")"), std::to_string(kEach - 1));
    EXPECT_EQ(read(client, "$d(^c(2,0))"), "1");
  }
}

}  // namespace
}  // namespace devserver::testing

namespace devserver::testing {
namespace {

// --listen ::1: an IPv6 server, named in brackets on its first line, that the
// client library reaches by the address and IPv4 clients do not reach.
TEST(ListenAddressTest, ServesIPv6ClientsOnTheAddressGiven) {
  kvrtest::ServerOptions options;
  options.arguments = {"--listen", "::1"};
  std::optional<kvrtest::DevServer> started;
  try {
    started.emplace(options);
  } catch (const std::exception& e) {
    GTEST_SKIP() << "no IPv6: " << e.what();
  }
  const kvrtest::DevServer& server = *started;
  EXPECT_EQ(server.firstLine(), "listening on [::1]:" + std::to_string(server.port()));
  kovra::TKvrConnect client;
  client.SetServerAddress("::1");
  client.SetServerPort(server.port());
  client.SetActive(true);
  ASSERT_TRUE(client.Active()) << client.ConnectFailure();
  EXPECT_EQ(client.Read("6*7"), "42");
  client.SetActive(false);

  kovra::TKvrConnect overIPv4;
  overIPv4.SetServerAddress("127.0.0.1");
  overIPv4.SetServerPort(server.port());
  overIPv4.SetActive(true);
  EXPECT_FALSE(overIPv4.Active());
  EXPECT_EQ(overIPv4.ConnectFailure(), "Connection refused");
}

}  // namespace
}  // namespace devserver::testing
