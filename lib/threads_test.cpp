// Several threads, one handle each: handles share nothing, so threads may
// drive their own connections at once; and the in-process machine, which
// exists once per process, is refused to all but one of two threads that
// open it together. Run under ThreadSanitizer by test.sh.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "kovra_record.h"
#include "kovrasc.h"
#include "kvr_connect.h"
#include "process.h"

namespace {

namespace fs = std::filesystem;

// What the call-backs saw on this thread: call-backs run on the thread of
// the call, so each thread has its own record.
struct Seen {
  void* handle = nullptr;
  std::vector<std::string> groups;
  std::string output;
  bool foreignHandle = false;
};
thread_local Seen seen;

void OnGroup(void* handle, KOVRA_STR* value) {
  if (handle != seen.handle) seen.foreignHandle = true;
  seen.groups.emplace_back(value->str, value->len);
}

void OnOutput(void* handle, KOVRA_STR* text) {
  if (handle != seen.handle) seen.foreignHandle = true;
  seen.output.append(text->str, text->len);
}

using kvrtest::Record;
using kvrtest::Text;

std::string LastError(void* handle) {
  KOVRA_STR error;
  KVRGetLastError(handle, &error);
  return std::string(error.str, error.len);
}

// One thread's session: every value carries the thread's number, so a value
// that reached the wrong handle shows.
void RunSession(int port, int thread, std::vector<std::string>& failures) {
  auto fail = [&](const std::string& what) {
    failures.push_back("thread " + std::to_string(thread) + ": " + what);
  };
  void* handle = KVRCreateConnect("127.0.0.1", port, "USER");
  seen = Seen{};
  seen.handle = handle;
  KVRSetGroupRead(handle, OnGroup);
  KVRSetOutput(handle, OnOutput);
  if (KVRConnectOpen(handle) != 1) {
    fail("open: " + LastError(handle));
    KVRDestroyConnect(handle);
    return;
  }
  const std::string tag = "t" + std::to_string(thread);
  for (int i = 0; i < 20; ++i) {
    const std::string value = tag + "v" + std::to_string(i);
    auto name = Record("x");
    auto text = Record(value);
    if (KVRWrite(handle, name.get(), text.get()) != 1) fail("write: " + LastError(handle));
    auto expression = Record("x_\"!\"");
    auto result = Record("");
    if (KVRRead(handle, expression.get(), result.get()) != 1) fail("read: " + LastError(handle));
    if (Text(*result) != value + "!") fail("read gave " + Text(*result));

    seen.groups.clear();
    auto code = Record("d wo^%srv(x_1),wo^%srv(x_2)");
    if (KVRExecute(handle, code.get()) != 1) fail("execute: " + LastError(handle));
    // The last value follows the command's end, then the empty one of none.
    if (seen.groups != std::vector<std::string>{value + "1", value + "2"}) fail("group values of " + value);

    seen.output.clear();
    auto print = Record("w x,\"|\",$l(x)");
    if (KVRExecuteOutput(handle, print.get()) != 1) fail("output: " + LastError(handle));
    if (seen.output != value + "|" + std::to_string(value.size())) fail("output gave " + seen.output);
  }
  if (seen.foreignHandle) fail("a call-back came with another handle");
  if (KVRConnectClose(handle) != 1) fail("close: " + LastError(handle));
  KVRDestroyConnect(handle);
}

TEST(Threads, EachThreadDrivesItsOwnHandleAgainstOneServer) {
  kvrtest::DevServer server;
  constexpr int kThreads = 4;
  std::vector<std::vector<std::string>> failures(kThreads);
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int round = 0; round < 2; ++round) RunSession(server.port(), t, failures[t]);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const auto& list : failures) {
    for (const std::string& failure : list) ADD_FAILURE() << failure;
  }
}

// Two threads open the in-process machine at the same moment: one gets it,
// the other the refusal; once the winner closes, the machine can be had
// again.
TEST(Threads, TwoThreadsOpeningTheInProcessMachineGetOneMachine) {
  kvrtest::TempDir dir;
  fs::copy_file(TINDRA_STANDIN, fs::path(dir.path()) / "libtindra.so");
  const fs::path home = fs::current_path();
  fs::current_path(dir.path());
  for (int round = 0; round < 20; ++round) {
    kovra::TKvrConnect connections[2];
    std::string refusals[2];
    std::latch start(2);
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
      threads.emplace_back([&, t] {
        connections[t].ConnectType = kovra::cntTindra;
        start.arrive_and_wait();
        try {
          connections[t].SetActive(true);
        } catch (const kovra::EKovraError& e) {
          refusals[t] = e.Message();
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    const int winner = connections[0].Active() ? 0 : 1;
    ASSERT_TRUE(connections[winner].Active()) << "round " << round << ": " << refusals[0];
    EXPECT_EQ(refusals[winner], "") << "round " << round;
    EXPECT_FALSE(connections[1 - winner].Active()) << "round " << round;
    EXPECT_EQ(refusals[1 - winner], "CreateTindraVM: Tindra virtual machine already been created")
        << "round " << round;
    EXPECT_EQ(connections[winner].Read("1+2"), "3");
    connections[winner].SetActive(false);
  }
  fs::current_path(home);
}

}  // namespace
