#include "socket_io.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <string>
#include <vector>

namespace devserver {
namespace {

// A packet socket pair keeps the boundary of every send, so the pieces a
// segmented send makes can be seen one by one.
std::vector<std::string> piecesOf(std::string_view bytes, std::size_t segment) {
  int pair[2];
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair), 0);
  UniqueFd sender(pair[0]);
  UniqueFd receiver(pair[1]);
  sendAll(sender.get(), bytes, segment);
  sender.reset();
  std::vector<std::string> pieces;
  char buffer[256];
  for (std::size_t count; (count = receiveSome(receiver.get(), buffer, sizeof buffer)) > 0;) {
    pieces.emplace_back(buffer, count);
  }
  return pieces;
}

TEST(SocketIoTest, SegmentedSendWritesPiecesOfAtMostTheSegment) {
  std::vector<std::string> expected = {"<OK", ">:1", "2"};
  EXPECT_EQ(piecesOf("<OK>:12", 3), expected);
}

TEST(SocketIoTest, UnsegmentedSendWritesWhole) {
  std::vector<std::string> expected = {"<OK>:12"};
  EXPECT_EQ(piecesOf("<OK>:12", 0), expected);
}

}  // namespace
}  // namespace devserver
