// How a routine's lines are packed into execute requests for -b on: one
// request in the line-by-line order when it fits, else staged in rbulk and
// moved in by the last request; every request within the limit; a routine
// whose line cannot fit any request is left to the line-by-line store.
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

TEST(BulkStoreTest, AShortRoutineIsReplacedInOneRequestInTheLineByLineOrder) {
  const auto requests = bulkStoreRequests(kNode, {"ABC ; x", "", " w \"hi\""}, "\"66000,1\"", literal);
  ASSERT_TRUE(requests);
  ASSERT_EQ(requests->size(), 1u);
  EXPECT_EQ((*requests)[0],
            "k ^ROUTINE(\"ABC\") s ^ROUTINE(\"ABC\",1)=\"ABC ; x\",^ROUTINE(\"ABC\",2)=\"\","
            "^ROUTINE(\"ABC\",3)=\" w \"\"hi\"\"\" s ^ROUTINE(\"ABC\",0)=\"66000,1\",^ROUTINE(\"ABC\")=\"3,14\"");
}

TEST(BulkStoreTest, AnEmptyRoutineStoresItsDateAndAZeroHeader) {
  const auto requests = bulkStoreRequests(kNode, {}, "$h", literal);
  ASSERT_TRUE(requests);
  EXPECT_EQ(*requests, std::vector<std::string>{"k ^ROUTINE(\"ABC\") s ^ROUTINE(\"ABC\",0)=$h,^ROUTINE(\"ABC\")=\"0,0\""});
}

TEST(BulkStoreTest, ALongRoutineIsStagedAndTheOldOneReplacedOnlyByTheLastRequest) {
  std::vector<std::string> lines;
  std::size_t characters = 0;
  for (int i = 0; i < 200; ++i) {
    lines.push_back(" s x(" + std::to_string(i) + ")=" + std::string(50, 'a'));
    characters += lines.back().size();
  }
  constexpr std::size_t kLimit = 1000;
  const auto requests = bulkStoreRequests(kNode, lines, "\"1,2\"", literal, kLimit);
  ASSERT_TRUE(requests);
  ASSERT_GT(requests->size(), 2u);
  EXPECT_TRUE((*requests)[0].starts_with("k rbulk s rbulk(1)=")) << (*requests)[0];
  std::size_t assigned = 0;
  for (std::size_t i = 0; i < requests->size(); ++i) {
    const std::string& request = (*requests)[i];
    EXPECT_LE(request.size(), kLimit);
    const bool last = i + 1 == requests->size();
    // Only the first request starts the stage afresh.
    EXPECT_EQ(request.find("k rbulk s ") != std::string::npos, i == 0) << request;
    // Only the last request touches the routine's global.
    EXPECT_EQ(request.find("^ROUTINE") != std::string::npos, last) << request;
    for (std::size_t at = 0; (at = request.find("rbulk(", at)) != std::string::npos; ++at) {
      ++assigned;
      EXPECT_EQ(request.compare(at, 6 + std::to_string(assigned).size() + 2,
                                "rbulk(" + std::to_string(assigned) + ")="),
                0)
          << "lines staged in order";
    }
  }
  EXPECT_EQ(assigned, lines.size());
  EXPECT_TRUE(requests->back().ends_with("k ^ROUTINE(\"ABC\") m ^ROUTINE(\"ABC\")=rbulk s ^ROUTINE(\"ABC\",0)=\"1,2\","
                                         "^ROUTINE(\"ABC\")=\"200," +
                                         std::to_string(characters) + "\" k rbulk"))
      << requests->back();
}

TEST(BulkStoreTest, ALineThatFitsNoRequestLeavesTheRoutineToTheLineByLineStore) {
  const std::vector<std::string> lines{"short", std::string(32767, 'x')};
  EXPECT_FALSE(bulkStoreRequests(kNode, lines, "$h", literal));
  // Just within: the assignment of the longest line fits a request alone.
  const std::vector<std::string> fits{"short", std::string(32700, 'x')};
  const auto requests = bulkStoreRequests(kNode, fits, "$h", literal);
  ASSERT_TRUE(requests);
  for (const std::string& request : *requests) EXPECT_LE(request.size(), kRequestLimit);
}

TEST(BulkStoreTest, ALineTheLibraryCannotQuoteLeavesTheRoutineToTheLineByLineStore) {
  const Quoter refusing = [](std::string_view text) -> std::optional<std::string> {
    if (text == "bad") return std::nullopt;
    return literal(text);
  };
  EXPECT_FALSE(bulkStoreRequests(kNode, {"good", "bad"}, "$h", refusing));
}

}  // namespace
}  // namespace kvrimport
