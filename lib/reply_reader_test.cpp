// The framing reader, fed without any socket.
#include "reply_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scripted_peer.h"

namespace kovra {
namespace {

using testing::Z;

class ReplyReaderTest : public ::testing::Test {
 protected:
  // Feeds bytes in pieces of the given size and collects every reply that
  // completes along the way.
  std::vector<std::string> FeedInPieces(const std::string& bytes, std::size_t piece) {
    std::vector<std::string> replies;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
      const std::string_view part = std::string_view(bytes).substr(at, piece);
      EXPECT_EQ(reader_.Feed(part), part.size());
      CollectReplies(replies);
    }
    return replies;
  }

  void CollectReplies(std::vector<std::string>& replies) {
    std::string reply;
    while (reader_.ParseBuffer(reply) == TParseResult::prComplete) replies.push_back(reply);
  }

  TParseResult Parse() { return reader_.ParseBuffer(reply_); }

  TReplyReader reader_;
  std::string reply_;
};

TEST_F(ReplyReaderTest, ReplyStreamAssemblesTheSameWholeAndOneBytePerFeed) {
  const std::string stream = Z("<OK>:job|<GO ON>:3|a|b<CALLBACK>f:0||ERR 1|<GO ON>:0|<OK>|");
  const std::vector<std::string> expected{Z("<OK>:job|"), Z("<GO ON>:3|a|b"), Z("<CALLBACK>f:0|"),
                                          Z("|"), Z("ERR 1|"), Z("<GO ON>:0|"), Z("<OK>|")};
  EXPECT_EQ(FeedInPieces(stream, stream.size()), expected);
  reader_ = TReplyReader();
  EXPECT_EQ(FeedInPieces(stream, 1), expected);
  EXPECT_EQ(reader_.FillCount(), 0u);
}

TEST_F(ReplyReaderTest, TwoRepliesInOneFeedComeOutOneAtATime) {
  reader_.Feed(Z("<GO ON>:1|A<OK>|"));
  ASSERT_EQ(Parse(), TParseResult::prComplete);
  EXPECT_EQ(reply_, Z("<GO ON>:1|A"));
  ASSERT_EQ(Parse(), TParseResult::prComplete);
  EXPECT_EQ(reply_, Z("<OK>|"));
  EXPECT_EQ(Parse(), TParseResult::prNeedMore);
}

// The body is counted, not scanned: a NUL inside it ends nothing, and the
// reply completes with the announced byte and not one before.
TEST_F(ReplyReaderTest, BodyIsWaitedForByItsAnnouncedLength) {
  reader_.Feed(Z("<GO ON>:5|a|"));
  EXPECT_EQ(Parse(), TParseResult::prNeedMore);
  reader_.Feed("cd");
  EXPECT_EQ(Parse(), TParseResult::prNeedMore);
  reader_.Feed(Z("e<OK>|"));
  ASSERT_EQ(Parse(), TParseResult::prComplete);
  EXPECT_EQ(reply_, Z("<GO ON>:5|a|cde"));
  ASSERT_EQ(Parse(), TParseResult::prComplete);  // the next reply is framed anew
  EXPECT_EQ(reply_, Z("<OK>|"));
  EXPECT_EQ(reader_.FillCount(), 0u);
}

TEST_F(ReplyReaderTest, LengthThatIsNotANumberAnnouncesAnEmptyBody) {
  reader_.Feed(Z("<GO ON>:x1|<GO ON>|rest"));
  ASSERT_EQ(Parse(), TParseResult::prComplete);
  EXPECT_EQ(reply_, Z("<GO ON>:x1|"));
  ASSERT_EQ(Parse(), TParseResult::prComplete);
  EXPECT_EQ(reply_, Z("<GO ON>|"));
}

TEST_F(ReplyReaderTest, HeaderFillingTheWholeBufferWithoutNulCanNeverComplete) {
  const std::string header(TReplyReader::kCapacity, 'h');
  std::size_t fed = 0;
  for (int i = 0; i < 4 && fed < header.size(); ++i) {
    fed += reader_.Feed(std::string_view(header).substr(fed, 10000));
    if (fed < header.size()) {
      EXPECT_EQ(Parse(), TParseResult::prNeedMore);
    }
  }
  ASSERT_EQ(fed, header.size());
  EXPECT_TRUE(reader_.FreeSpace().empty());
  EXPECT_EQ(Parse(), TParseResult::prNeverFits);
}

TEST_F(ReplyReaderTest, BodyAnnouncedBeyondTheBufferIsRejectedBeforeItArrives) {
  reader_.Feed(Z("<GO ON>:40000|abc"));
  EXPECT_EQ(Parse(), TParseResult::prNeverFits);
  reader_ = TReplyReader();
  reader_.Feed(Z("<GO ON>:32769|abc"));
  EXPECT_EQ(Parse(), TParseResult::prNeverFits);
}

TEST_F(ReplyReaderTest, ReplyFillingTheBufferExactlyCompletes) {
  const std::size_t body = TReplyReader::kCapacity - std::string("<GO ON>:32754").size() - 1;
  const std::string stream = "<GO ON>:" + std::to_string(body) + '\0' + std::string(body, 'b');
  ASSERT_EQ(stream.size(), TReplyReader::kCapacity);
  std::size_t fed = 0;
  for (int i = 0; i < 8 && fed < stream.size(); ++i) {
    fed += reader_.Feed(std::string_view(stream).substr(fed, 5000));
    Parse();
  }
  EXPECT_EQ(reply_, stream);
  EXPECT_EQ(reader_.FillCount(), 0u);
}

// The header leaves the buffer before the body must fit: every body the
// buffer can hold completes, whole or one byte per feed, and the reply that
// follows it is still found.
TEST_F(ReplyReaderTest, BodiesUpToTheWholeBufferComplete) {
  for (const std::size_t size : {32754u, 32755u, 32767u, 32768u}) {
    const std::string reply = Z("<GO ON>:" + std::to_string(size) + "|") + std::string(size, 'b');
    const std::string stream = reply + Z("<OK>|");
    for (const std::size_t piece : {std::size_t{5000}, std::size_t{1}}) {
      // As the socket code does: feed what fits, parse, feed the rest.
      reader_ = TReplyReader();
      std::vector<std::string> replies;
      std::size_t fed = 0;
      for (std::size_t round = 0; round < stream.size() + 2 && fed < stream.size(); ++round) {
        fed += reader_.Feed(std::string_view(stream).substr(fed, piece));
        CollectReplies(replies);
      }
      EXPECT_EQ(fed, stream.size());
      EXPECT_EQ(replies, (std::vector<std::string>{reply, Z("<OK>|")}))
          << size << " in pieces of " << piece;
      EXPECT_EQ(reader_.FillCount(), 0u);
    }
  }
}

// A header set aside for a body of the whole buffer is forgotten by Clear:
// what comes next is framed as a reply of its own, not taken as that body.
TEST_F(ReplyReaderTest, HeaderSetAsideWaitsForItsBodyAndClearForgetsIt) {
  reader_.Feed(Z("<GO ON>:32768|abc"));
  EXPECT_EQ(Parse(), TParseResult::prNeedMore);
  EXPECT_EQ(reader_.Feed(std::string(100, 'b')), 100u);
  EXPECT_EQ(Parse(), TParseResult::prNeedMore);
  reader_.Clear();
  EXPECT_EQ(reader_.FillCount(), 0u);
  reader_.Feed(Z("<OK>|"));
  ASSERT_EQ(Parse(), TParseResult::prComplete);
  EXPECT_EQ(reply_, Z("<OK>|"));
}

TEST_F(ReplyReaderTest, RawBytesCanBeTakenBeforeTheNextReply) {
  reader_.Feed("raw out");
  reader_.Consume(4);
  EXPECT_EQ(reader_.Pending(), "out");
  reader_.Feed(Z("|<OK>|"));
  ASSERT_EQ(Parse(), TParseResult::prComplete);
  EXPECT_EQ(reply_, Z("out|"));
}

TEST(ReplyTags, TagRunsFromFirstOpeningToFirstClosingBracket) {
  EXPECT_EQ(TReplyReader::TagOf(Z("<GO ON>:3|abc")), "<GO ON>");
  EXPECT_EQ(TReplyReader::TagOf(Z("xx<OK>:j|")), "<OK>");
  EXPECT_EQ(TReplyReader::TagOf(Z("ERR|")), "");
  EXPECT_EQ(TReplyReader::TagOf(Z("<ERR|")), "");
}

TEST(ReplyTags, AnnouncedLengthReadsDigitsAfterTheColonBehindTheTag) {
  EXPECT_EQ(TReplyReader::AnnouncedLength("<GO ON>:12"), 12u);
  EXPECT_EQ(TReplyReader::AnnouncedLength("<CALLBACK>a:b:7"), 0u);  // "b:7" is no number
  EXPECT_EQ(TReplyReader::AnnouncedLength("<CALLBACK>name:7"), 7u);
  EXPECT_EQ(TReplyReader::AnnouncedLength("<GO ON>"), 0u);
  EXPECT_EQ(TReplyReader::AnnouncedLength("<GO ON>:-5"), 0u);
  EXPECT_EQ(TReplyReader::AnnouncedLength("<GO ON>:99999999999999999999999"), 0u);
}

}  // namespace
}  // namespace kovra
