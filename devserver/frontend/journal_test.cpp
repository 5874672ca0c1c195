#include "journal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>

#include "journal_record.h"
#include "mengine/silent_io.h"
#include "process.h"
#include "test_client.h"

namespace devserver {
namespace {

using namespace std::string_literals;
using Change = mengine::JournalSink::Change;

// One set or kill as the journal appends it.
std::string recordOf(const JournalRecord& record) {
  std::string out;
  appendChange(out, record.kind, record.global, record.subscripts, record.value);
  return out;
}

TEST(JournalRecordTest, RecordsSurviveEncodingWithAnyBytes) {
  JournalRecord set{JournalRecord::Kind::kSet, "^g", {"a\0b"s, "", "10"}, "v\0\xff"s};
  JournalRecord kill{JournalRecord::Kind::kKill, "^k", {}, {}};
  std::string data = recordOf(set) + recordOf(kill);

  std::size_t pos = 0;
  JournalRecord out;
  ASSERT_TRUE(decodeRecord(data, pos, out));
  EXPECT_EQ(out.kind, JournalRecord::Kind::kSet);
  EXPECT_EQ(out.global, "^g");
  EXPECT_EQ(out.subscripts, set.subscripts);
  EXPECT_EQ(out.value, set.value);
  ASSERT_TRUE(decodeRecord(data, pos, out));
  EXPECT_EQ(out.kind, JournalRecord::Kind::kKill);
  EXPECT_EQ(out.global, "^k");
  EXPECT_TRUE(out.subscripts.empty());
  EXPECT_EQ(pos, data.size());
  EXPECT_FALSE(decodeRecord(data, pos, out));
}

TEST(JournalRecordTest, TornRecordAtEveryCutIsRejected) {
  std::string whole = recordOf({JournalRecord::Kind::kSet, "^g", {"1"}, "value"});
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    std::size_t pos = 0;
    JournalRecord out;
    EXPECT_FALSE(decodeRecord(whole.substr(0, cut), pos, out)) << "cut at " << cut;
    EXPECT_EQ(pos, 0u);
  }
}

TEST(JournalRecordTest, FlippedByteIsCaughtByTheChecksum) {
  std::string whole = recordOf({JournalRecord::Kind::kSet, "^g", {"1"}, "value"});
  for (std::size_t i = 1; i < whole.size(); ++i) {
    std::string damaged = whole;
    damaged[i] = static_cast<char>(damaged[i] ^ 0x20);
    std::size_t pos = 0;
    JournalRecord out;
    EXPECT_FALSE(decodeRecord(damaged, pos, out)) << "byte " << i;
  }
}

TEST(JournalRecordTest, TransactionComesBackWholeOrNotAtAll) {
  const std::vector<Change> changes = {
      {false, "^t", {"1"}, "one"}, {true, "^g", {}, {}}, {false, "^t", {"2"}, "two\0"s}};
  std::string whole = encodeTransaction(changes) + recordOf({JournalRecord::Kind::kKill, "^g", {}, {}});
  std::size_t pos = 0;
  std::vector<JournalRecord> out;
  ASSERT_TRUE(decodeEntry(whole, pos, out));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[1].kind, JournalRecord::Kind::kKill);
  EXPECT_EQ(out[2].value, "two\0"s);
  ASSERT_TRUE(decodeEntry(whole, pos, out));  // a plain record reads as one
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].global, "^g");
  EXPECT_EQ(pos, whole.size());

  std::string transaction = encodeTransaction(changes);
  for (std::size_t cut = 0; cut < transaction.size(); ++cut) {
    std::size_t at = 0;
    EXPECT_FALSE(decodeEntry(transaction.substr(0, cut), at, out)) << "cut at " << cut;
    EXPECT_EQ(at, 0u);
  }
  JournalRecord one;
  pos = 0;
  EXPECT_FALSE(decodeRecord(transaction, pos, one));  // never mistaken for a single change
}

// A server over a directory, opened the way kvrdevserver opens it.
struct OpenServer {
  explicit OpenServer(const std::string& directory)
      : journal(std::make_unique<Journal>(directory)),
        server(std::make_unique<mengine::Server>(mengine::ServerOptions{directory, journal.get()})) {
    journal->replay(*server);
    journal->compact(*server);
  }

  std::map<std::string, std::string> contents() const {
    std::map<std::string, std::string> nodes;
    server->forEachNode([&](const std::string& database, const std::string& global,
                            const mengine::Subscripts& subscripts, const std::string& value) {
      std::string key = database + " " + global;
      for (const std::string& subscript : subscripts) key += "," + subscript;
      nodes[key] = value;
    });
    return nodes;
  }

  std::unique_ptr<Journal> journal;
  std::unique_ptr<mengine::Server> server;
};

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override { directory_ = temp_.path() + "/"; }

  void set(OpenServer& open, const std::string& reference, const std::string& value) {
    mengine::Job job(*open.server, 1);
    job.set(reference, value, io_);
  }

  void appendBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << bytes;
  }

  kvrtest::TempDir temp_;

  std::string directory_;
  mengine::SilentIo io_;
};

TEST_F(JournalTest, ChangesComeBackAfterReopening) {
  {
    OpenServer open(directory_);
    set(open, "^g(1)", "one");
    set(open, "^g(2)", "two");
    mengine::Job job(*open.server, 1);
    job.kill("^g(1)", io_);
  }
  OpenServer reopened(directory_);
  std::map<std::string, std::string> expected = {{"%SYS g,2", "two"}};
  EXPECT_EQ(reopened.contents(), expected);
}

TEST_F(JournalTest, TornTailIsIgnoredAndCompactedAway) {
  std::string path;
  std::uintmax_t cleanSize = 0;
  {
    OpenServer open(directory_);
    set(open, "^g", "kept");
    path = open.journal->pathOf("%SYS");
    cleanSize = std::filesystem::file_size(path);
  }
  std::string torn = recordOf({JournalRecord::Kind::kSet, "^g", {}, "lost"});
  appendBytes(path, torn.substr(0, torn.size() - 3));

  OpenServer reopened(directory_);
  std::map<std::string, std::string> expected = {{"%SYS g", "kept"}};
  EXPECT_EQ(reopened.contents(), expected);
  EXPECT_EQ(std::filesystem::file_size(path), cleanSize);
}

TEST_F(JournalTest, CommittedTransactionIsReplayedWholeAndATornOneNotAtAll) {
  std::string path;
  {
    OpenServer open(directory_);
    set(open, "^g", "before");
    mengine::Job job(*open.server, 1);
    job.execute("ts  s ^t(1)=1,^t(2)=2 k ^g tc", io_);
    job.execute("ts  s ^r=1 tro", io_);
    path = open.journal->pathOf("%SYS");
  }
  std::uintmax_t cleanSize = std::filesystem::file_size(path);
  std::string torn = encodeTransaction(std::vector<Change>{{false, "^t", {"3"}, "3"}, {true, "^t", {"1"}, {}}});
  appendBytes(path, torn.substr(0, torn.size() - 1));

  OpenServer reopened(directory_);
  std::map<std::string, std::string> expected = {{"%SYS t,1", "1"}, {"%SYS t,2", "2"}};
  EXPECT_EQ(reopened.contents(), expected);
  EXPECT_LT(std::filesystem::file_size(path), cleanSize + torn.size() - 1);
}

TEST_F(JournalTest, CompactionKeepsOneRecordPerNode) {
  std::string path;
  {
    OpenServer open(directory_);
    for (int i = 0; i < 50; ++i) set(open, "^g", std::to_string(i));
    path = open.journal->pathOf("%SYS");
  }
  std::uintmax_t grown = std::filesystem::file_size(path);
  OpenServer reopened(directory_);
  EXPECT_LT(std::filesystem::file_size(path), grown / 10);
  std::map<std::string, std::string> expected = {{"%SYS g", "49"}};
  EXPECT_EQ(reopened.contents(), expected);
}

TEST_F(JournalTest, ForeignFileIsRefusedNotOverwritten) {
  appendBytes(directory_ + "USER.journal", "not a journal at all");
  EXPECT_THROW(OpenServer open(directory_), std::runtime_error);
  std::ifstream in(directory_ + "USER.journal");
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "not a journal at all");
}

TEST_F(JournalTest, SecondServerOnTheSameDirectoryIsRefused) {
  OpenServer open(directory_);
  EXPECT_THROW(Journal second(directory_), std::runtime_error);
}

}  // namespace
}  // namespace devserver
