// The library against a real kvrdevserver: values as long as an M string can
// be, and the wire trace of a utility run with KOVRA_TRACE.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "kovra_record.h"
#include "kovrasc.h"
#include "process.h"

namespace {

std::vector<std::string> groups;

void OnGroup(void*, KOVRA_STR* value) { groups.emplace_back(value->str, value->len); }

using kvrtest::Record;
using kvrtest::Text;

// The longest values the server can send arrive whole, as a read's result
// and as group values, and the connection goes on.
TEST(LibraryAgainstDevServer, LongestValuesArriveWhole) {
  kvrtest::DevServer server;
  void* handle = KVRCreateConnect("127.0.0.1", server.port(), "USER");
  KVRSetGroupRead(handle, OnGroup);
  ASSERT_EQ(KVRConnectOpen(handle), 1);
  auto value = std::make_unique<KOVRA_STR>();
  for (const int size : {32754, 32755, 32767}) {
    auto expression = Record("$J(\"\"," + std::to_string(size) + ")");
    ASSERT_EQ(KVRRead(handle, expression.get(), value.get()), 1) << size;
    EXPECT_EQ(Text(*value), std::string(size, ' ')) << size;
  }
  groups.clear();
  auto code = Record("d wo^%srv($J(\"\",32767)),wo^%srv($J(\"\",32755)_\"!\")");
  ASSERT_EQ(KVRExecute(handle, code.get()), 1);
  EXPECT_EQ(groups, (std::vector<std::string>{std::string(32767, ' '), std::string(32755, ' ') + "!"}));
  auto small = Record("1+1");
  ASSERT_EQ(KVRRead(handle, small.get(), value.get()), 1);
  EXPECT_EQ(Text(*value), "2");
  EXPECT_EQ(KVRConnectClose(handle), 1);
  KVRDestroyConnect(handle);
}

// A trace taken as the README shows: any utility, KOVRA_TRACE naming a file.
TEST(LibraryAgainstDevServer, TraceOfAUtilityHoldsItsRequestsAndReplies) {
  kvrtest::TempDir dir;
  dir.addLibrary();
  kvrtest::DevServer server;
  kvrtest::writeSettings(dir, server.port());
  kvrtest::RunOptions options;
  options.cwd = dir.path();
  options.env["KOVRA_TRACE"] = dir.file("kvr.trace");
  const kvrtest::RunResult run = kvrtest::runTool(kvrtest::toolPath("kvrdbexec"), {"w 1"}, options);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "1");
  const std::string trace = dir.read("kvr.trace");
  const auto zn = trace.find(" > x\\x00" "9\\x00zn \"USER\"\n");
  const auto line = trace.find("\\x00w 1\n");
  ASSERT_NE(zn, std::string::npos) << trace;
  ASSERT_NE(line, std::string::npos) << trace;
  EXPECT_LT(zn, line);
  // Each request is followed by a reply of its own.
  EXPECT_NE(trace.find(" < <OK>\\x00\n", zn), std::string::npos) << trace;
  EXPECT_NE(trace.find(" < 1\n", line), std::string::npos) << trace;
  EXPECT_NE(trace.find(" ! close\n", line), std::string::npos) << trace;
}

}  // namespace
