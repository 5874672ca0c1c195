// Taking the bulk reader's output apart: records split anywhere (one byte
// per piece), any byte but NUL inside a line, routines that did not travel,
// and output that breaks the layout.
#include "bulk_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kvrtools {
namespace {

std::string record(char kind, const std::string& text) {
  return std::string(1, kind) + std::to_string(text.size()) + " " + text + "\n";
}

std::string routine(const std::string& date, const std::vector<std::string>& lines, char exists = '1') {
  std::string out = std::string("S") + exists + "\n" + record('D', date);
  for (const std::string& line : lines) out += record('L', line);
  return out + "E\n";
}

std::vector<FetchedRoutine> parseInPieces(const std::string& output, std::size_t pieceSize) {
  RoutineTextParser parser;
  for (std::size_t at = 0; at < output.size(); at += pieceSize) parser.feed(output.substr(at, pieceSize));
  EXPECT_FALSE(parser.broken());
  EXPECT_FALSE(parser.midRoutine());
  return parser.completed();
}

TEST(BulkReaderTest, RoutinesComeWholeHoweverTheOutputIsCut) {
  const std::string hard = std::string("a\r\nb\n\"q\"") + "\x01\x7f\xc3\xa9\xff";
  const std::string output = routine("66000,1", {"ABC ; x", "", hard, std::string(5000, 'z')}) +
                             routine("", {}, '0') + routine("1,2", {"L12 x"}, '1');
  for (std::size_t pieceSize : {std::size_t{1}, std::size_t{7}, std::size_t{2048}, output.size()}) {
    const std::vector<FetchedRoutine> got = parseInPieces(output, pieceSize);
    ASSERT_EQ(got.size(), 3u) << pieceSize;
    EXPECT_TRUE(got[0].exists);
    EXPECT_TRUE(got[0].travelled);
    EXPECT_EQ(got[0].date, "66000,1");
    EXPECT_EQ(got[0].lines, (std::vector<std::string>{"ABC ; x", "", hard, std::string(5000, 'z')}));
    EXPECT_FALSE(got[1].exists);
    EXPECT_TRUE(got[1].lines.empty());
    EXPECT_EQ(got[2].lines, std::vector<std::string>{"L12 x"});
  }
}

TEST(BulkReaderTest, ARoutineWithAnUncarriableLineIsMarkedAndTheNextStillArrives) {
  const std::string output = "S1\n" + record('D', "1,1") + record('L', "a") + "Z\n" + record('L', "b") + "E\n" +
                             routine("2,2", {"next"});
  const std::vector<FetchedRoutine> got = parseInPieces(output, 3);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_FALSE(got[0].travelled);
  EXPECT_TRUE(got[1].travelled);
  EXPECT_EQ(got[1].lines, std::vector<std::string>{"next"});
}

TEST(BulkReaderTest, BrokenOutputKeepsOnlyTheRoutinesCompletedBeforeIt) {
  const std::vector<std::string> broken{
      "L3 abc\n",                 // a line outside a routine
      "S1\nD3 abcX",              // no line feed where the count ends
      "S1\nL12x abc\n",           // a length that is no number
      "S1\nS1\n",                 // a routine inside a routine
      "S1\nQ\n",                  // an unknown record
      "S1\nL9999999999 x\n",      // a length too long to be real
  };
  for (const std::string& tail : broken) {
    RoutineTextParser parser;
    parser.feed(routine("1,1", {"ok"}) + tail + routine("2,2", {"lost"}));
    EXPECT_TRUE(parser.broken()) << tail;
    ASSERT_EQ(parser.completed().size(), 1u) << tail;
    EXPECT_EQ(parser.completed()[0].lines, std::vector<std::string>{"ok"});
  }
}

TEST(BulkReaderTest, OutputThatStopsInsideARoutineIsPending) {
  RoutineTextParser parser;
  parser.feed(routine("1,1", {"ok"}) + "S1\n" + record('L', "half"));
  EXPECT_FALSE(parser.broken());
  EXPECT_TRUE(parser.midRoutine());
  EXPECT_EQ(parser.completed().size(), 1u);
}

TEST(BulkReaderTest, ExportTextWritesAnEmptyLineAsTheFormatSays) {
  EXPECT_EQ(exportText({"a", "", "b\r"}, EmptyLine::kSingleBlank), "a\n \nb\r\n");
  EXPECT_EQ(exportText({}, EmptyLine::kSingleBlank), "");
  // GT.M files: an empty line stays empty, a blank line stays a blank.
  EXPECT_EQ(exportText({"a", "", " ", "", "b\r"}, EmptyLine::kEmpty), "a\n\n \n\nb\r\n");
  EXPECT_EQ(exportText({""}, EmptyLine::kEmpty), "\n");
}

TEST(BulkReaderTest, TheReadLineNamesEveryRoutineAndStopsAtTheBudget) {
  const std::string line = readRoutinesLine("^rMAC", {"A", "%B"}, "$g(^rMAC(rn,0))");
  EXPECT_TRUE(
      line.starts_with("s t=0,z=$c(0) f rn=\"A\",\"%B\" q:t>" + std::to_string(kReplyBudget) + "  s d=$g(^rMAC(rn,0))"))
      << line;
  EXPECT_NE(line.find("$o(^rMAC(rn,n))"), std::string::npos);
  EXPECT_EQ(line.find("^ROUTINE"), std::string::npos);
}

}  // namespace
}  // namespace kvrtools
