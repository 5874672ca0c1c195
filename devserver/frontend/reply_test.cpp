#include "reply.h"

#include <gtest/gtest.h>

#include "wire_format.h"

namespace devserver {
namespace {

using namespace std::string_literals;
using kovra::wire::kReceiveBufferSize;

TEST(ReplyTest, LengthCarryingRepliesAnnounceTheirBody) {
  EXPECT_EQ(goOnReply("a\0b"s), "<GO ON>:3\0a\0b"s);
  EXPECT_EQ(goOnReply(""), "<GO ON>:0\0"s);
  EXPECT_EQ(callbackReply("n", "cmd"), "<CALLBACK>n:3\0cmd"s);
}

TEST(ReplyTest, HeadersNeverHoldANul) {
  EXPECT_EQ(errorReply("<UNDEFINED> *a\0b"s), "<UNDEFINED> *ab\0"s);
  EXPECT_EQ(callbackReply("n\0m"s, "c"), "<CALLBACK>nm:1\0c"s);
  EXPECT_EQ(messageReply("5\0"s), "<ONMSGCALLBACK>5:\0"s);
}

TEST(ReplyTest, EmptyErrorStillEndsTheCommand) {
  // A lone NUL is skipped by the client, which would then wait forever.
  EXPECT_EQ(errorReply(""), "<ERROR>\0"s);
  EXPECT_EQ(errorReply("\0"s), "<ERROR>\0"s);
}

TEST(ReplyTest, OverlongHeadersAreCutToFitTheClientsBuffer) {
  std::string error = errorReply("<UNDEFINED> *" + std::string(40000, 'x'));
  EXPECT_EQ(error.size(), kReceiveBufferSize);
  EXPECT_EQ(error.back(), '\0');

  std::string callback = callbackReply(std::string(40000, 'n'), "cmd");
  std::size_t nul = callback.find('\0');
  EXPECT_LT(nul, kReceiveBufferSize);
  EXPECT_EQ(callback.substr(nul - 2), ":3\0cmd"s);
}

}  // namespace
}  // namespace devserver
