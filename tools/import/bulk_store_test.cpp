// How a routine's lines are cut into parts for -b on: one part in the
// line-by-line order, inside a transaction, when it fits; else staged in
// rbulk a line to a part and moved in by the last part; every part within
// the limit; a routine whose line cannot fit any part is left to the
// line-by-line store.
#include "bulk_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kvrimport {
namespace {

// Enough of the library's quoting for packing: a literal with doubled quotes.
std::optional<std::string> literal(std::string_view text) {
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

const std::string kNode = "^ROUTINE(\"ABC\"";

TEST(BulkStoreTest, AShortRoutineIsReplacedByOnePartInTheLineByLineOrder) {
  // The lines joined by the first byte none of them holds, cut apart on the
  // server.
  const auto parts = bulkStoreParts(kNode, {"ABC ; x~", "", " w \"hi\""}, "\"66000,1\"", literal);
  ASSERT_TRUE(parts);
  ASSERT_EQ(parts->size(), 1u);
  EXPECT_EQ((*parts)[0],
            "ts  k ^ROUTINE(\"ABC\") s rbt=\"ABC ; x~`` w \"\"hi\"\"\" x \"f rbi=1:1:3 s "
            "^ROUTINE(\"\"ABC\"\",rbi)=$p(rbt,\"\"`\"\",rbi)\" s ^ROUTINE(\"ABC\",0)=\"66000,1\","
            "^ROUTINE(\"ABC\")=\"3,15\" tc ");
  // With every joiner in its lines, a SET per line, naked after the first.
  const std::vector<std::string> joiners{"~`{}|@#&<>[]!", "", " w \"hi\""};
  const auto perLine = bulkStoreParts(kNode, joiners, "$h", literal);
  ASSERT_TRUE(perLine);
  ASSERT_EQ(perLine->size(), 1u);
  EXPECT_EQ((*perLine)[0],
            "ts  k ^ROUTINE(\"ABC\") s ^ROUTINE(\"ABC\",1)=\"~`{}|@#&<>[]!\",^(2)=\"\",^(3)=\" w \"\"hi\"\"\" s "
            "^ROUTINE(\"ABC\",0)=$h,^ROUTINE(\"ABC\")=\"3,20\" tc ");
}

TEST(BulkStoreTest, AnEmptyRoutineStoresItsDateAndAZeroHeader) {
  const auto parts = bulkStoreParts(kNode, {}, "$h", literal);
  ASSERT_TRUE(parts);
  EXPECT_EQ(*parts,
            std::vector<std::string>{"ts  k ^ROUTINE(\"ABC\") s ^ROUTINE(\"ABC\",0)=$h,^ROUTINE(\"ABC\")=\"0,0\" tc "});
}

TEST(BulkStoreTest, ALongRoutineIsStagedAndTheOldOneReplacedOnlyByTheLastPart) {
  std::vector<std::string> lines;
  std::size_t characters = 0;
  for (int i = 0; i < 200; ++i) {
    lines.push_back(" s x(" + std::to_string(i) + ")=\"" + std::string(50, 'a') + "\"");
    characters += lines.back().size();
  }
  constexpr std::size_t kLimit = 1000;
  const auto parts = bulkStoreParts(kNode, lines, "\"1,2\"", literal, kLimit);
  ASSERT_TRUE(parts);
  ASSERT_EQ(parts->size(), lines.size() + 2);
  EXPECT_EQ(parts->front(), "k rbulk");
  for (std::size_t i = 0; i < lines.size(); ++i)
    EXPECT_EQ((*parts)[i + 1], "s rbulk(" + std::to_string(i + 1) + ")=" + *literal(lines[i]));
  EXPECT_EQ(parts->back(), "ts  k ^ROUTINE(\"ABC\") m ^ROUTINE(\"ABC\")=rbulk s ^ROUTINE(\"ABC\",0)=\"1,2\","
                           "^ROUTINE(\"ABC\")=\"200," +
                               std::to_string(characters) + "\" tc  k rbulk");
  for (const std::string& part : *parts) EXPECT_LE(part.size(), kLimit);
}

TEST(BulkStoreTest, AStagedRoutineTravelsAFewJoinedLinesToAPartCoveringEveryLineOnce) {
  std::vector<std::string> lines;
  for (int i = 0; i < 3000; ++i)
    lines.push_back(" s x(" + std::to_string(i) + ")=\"" + std::string(i % 30, '"') + "\"");
  const auto parts = bulkStagedParts(kNode, lines, "$h", literal);
  ASSERT_TRUE(parts);
  EXPECT_EQ(parts->front(), "k rbulk");
  EXPECT_TRUE(parts->back().starts_with("ts  k ^ROUTINE(\"ABC\") m ^ROUTINE(\"ABC\")=rbulk ")) << parts->back();
  std::size_t next = 0;  // lines staged so far, in order
  for (std::size_t p = 1; p + 1 < parts->size(); ++p) {
    const std::string& part = (*parts)[p];
    EXPECT_LE(part.size(), kRequestLimit);
    // s rbt="<lines joined by ~>" x "f rbi=1:1:<n> s rbulk(rbi+<first>)=$p(rbt,""~"",rbi)"
    const std::size_t loop = part.rfind(" x \"f rbi=1:1:");
    ASSERT_NE(loop, std::string::npos) << part.substr(0, 100);
    const std::string tail = part.substr(loop);
    const std::size_t count = std::stoul(tail.substr(14));
    const std::size_t first = std::stoul(tail.substr(tail.find("(rbi+") + 5));
    EXPECT_EQ(first, next);
    std::string text;
    for (std::size_t i = first; i < first + count; ++i) text += (i == first ? "" : "~") + lines[i];
    EXPECT_EQ(part.substr(0, loop), "s rbt=" + *literal(text));
    next += count;
  }
  EXPECT_EQ(next, lines.size());
  EXPECT_GT(parts->size(), 20u);  // a few lines to a part, not all
}

TEST(BulkStoreTest, ALineThatFitsNoPartLeavesTheRoutineToTheLineByLineStore) {
  const std::vector<std::string> lines{"short", std::string(32767, 'x')};
  EXPECT_FALSE(bulkStoreParts(kNode, lines, "$h", literal));
  // Just within: the assignment of the longest line fits a part alone.
  const std::vector<std::string> fits{"short", std::string(32700, 'x')};
  const auto parts = bulkStoreParts(kNode, fits, "$h", literal);
  ASSERT_TRUE(parts);
  for (const std::string& part : *parts) EXPECT_LE(part.size(), kRequestLimit);
}

TEST(BulkStoreTest, ALineTheLibraryCannotQuoteLeavesTheRoutineToTheLineByLineStore) {
  const Quoter refusing = [](std::string_view text) -> std::optional<std::string> {
    if (text == "bad") return std::nullopt;
    return literal(text);
  };
  EXPECT_FALSE(bulkStoreParts(kNode, {"good", "bad"}, "$h", refusing));
}

}  // namespace
}  // namespace kvrimport
