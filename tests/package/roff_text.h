// Reading the manual pages' roff source back as the text a reader sees, so
// tests can hold the pages to the programs' own texts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kvrtest {

// The text of roff source with the escapes our pages use turned back into
// the characters they print: \- \e \& \(aq \(dq \(ha \(ti \(ga \fB \fI \fR \fP.
std::string roffToText(std::string_view roff);

// The lines between ".nf" and ".fi" of the first no-fill block after the
// ".SH name" heading, as text, each ended by a line feed; empty when the
// page has no such block.
std::string noFillBlockAfter(std::string_view page, std::string_view section);

// One message a page quotes under a ".TP" or ".TQ" tag in the section:
// its literal pieces, with a placeholder (an italic word) between each two.
struct QuotedMessage {
  std::vector<std::string> pieces;
};

// The messages of the ".B" and ".BI" tags under ".TP"/".TQ" in the section.
std::vector<QuotedMessage> taggedMessages(std::string_view page, std::string_view section);

}  // namespace kvrtest
