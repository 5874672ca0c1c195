// The text splitter.
#include "mpiece.h"

#include <gtest/gtest.h>

namespace kovra {
namespace {

TEST(TextSplitter, SplitsAtEverySeparator) {
  const TMPiece two("a:b", ':');
  EXPECT_EQ(two.Count(), 2);
  EXPECT_EQ(two.Piece(0), "a");
  EXPECT_EQ(two.Piece(1), "b");
  EXPECT_EQ(two.Piece(2), "");
  const TMPiece trailing("a:b:", ':');
  EXPECT_EQ(trailing.Count(), 3);
  EXPECT_EQ(trailing.Piece(2), "");
  const TMPiece lone(":", ':');
  EXPECT_EQ(lone.Count(), 2);
  const TMPiece empty("", ':');
  EXPECT_EQ(empty.Count(), 0);
  EXPECT_EQ(empty.Piece(0), "");
}

}  // namespace
}  // namespace kovra
