#include "roff_text.h"

#include <gtest/gtest.h>

namespace kvrtest {
namespace {

TEST(RoffTextTest, EscapesBecomeThePrintedCharacters) {
  EXPECT_EQ(roffToText(R"(\-m all \(aq*\(aq \e \(dqx\(dq \&.5 \(ha\(ti \fBbold\fP)"),
            R"(-m all '*' \ "x" .5 ^~ bold)");
}

TEST(RoffTextTest, NoFillBlockIsTakenFromTheNamedSectionOnly) {
  const std::string page =
      ".SH NAME\n.nf\nnot this\n.fi\n.SH SYNOPSIS\nThe text:\n.PP\n.nf\nUsage: x \\-h\n  file;\n.fi\n";
  EXPECT_EQ(noFillBlockAfter(page, "SYNOPSIS"), "Usage: x -h\n  file;\n");
  EXPECT_EQ(noFillBlockAfter(page, "OPTIONS"), "");
  EXPECT_EQ(noFillBlockAfter(".SH A\ntext\n.SH B\n.nf\nb\n.fi\n", "A"), "");
}

TEST(RoffTextTest, TaggedMessagesSplitAtItalicPlaceholders) {
  const std::string page =
      ".SH DIAGNOSTICS\n.TP\n.B \"Nothing to execute.\"\nwhy\n"
      ".TP\n.BI \"Failed to open file \\(aq\" file \"\\(aq to write.\"\nwhy\n"
      ".TQ\n.BI \"Failed to read file \" path .\n"
      ".TP\n.BI \"Error in \" file\n.SH FILES\n.TP\n.B \"not a message\"\n";
  const std::vector<QuotedMessage> messages = taggedMessages(page, "DIAGNOSTICS");
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[0].pieces, (std::vector<std::string>{"Nothing to execute."}));
  EXPECT_EQ(messages[1].pieces, (std::vector<std::string>{"Failed to open file '", "' to write."}));
  EXPECT_EQ(messages[2].pieces, (std::vector<std::string>{"Failed to read file ", "."}));
  EXPECT_EQ(messages[3].pieces, (std::vector<std::string>{"Error in ", ""}));
}

}  // namespace
}  // namespace kvrtest
