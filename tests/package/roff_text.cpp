#include "roff_text.h"

#include <array>
#include <utility>

namespace kvrtest {
namespace {

std::vector<std::string_view> linesOf(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

// Index of the line after ".SH section", or lines.size().
std::size_t sectionStart(const std::vector<std::string_view>& lines, std::string_view section) {
  const std::string heading = ".SH " + std::string(section);
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (lines[i] == heading) return i + 1;
  return lines.size();
}

// The arguments of a macro line: words, or "quoted" runs with blanks.
std::vector<std::string> macroArguments(std::string_view line) {
  std::vector<std::string> words;
  std::size_t i = line.find(' ');
  while (i != std::string_view::npos && i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    if (i >= line.size()) break;
    std::size_t end;
    if (line[i] == '"') {
      end = line.find('"', i + 1);
      words.emplace_back(line.substr(i + 1, end == std::string_view::npos ? end : end - i - 1));
      i = end == std::string_view::npos ? end : end + 1;
    } else {
      end = line.find(' ', i);
      words.emplace_back(line.substr(i, end == std::string_view::npos ? end : end - i));
      i = end;
    }
  }
  return words;
}

}  // namespace

std::string roffToText(std::string_view roff) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 13> kEscapes = {{
      {"\\-", "-"}, {"\\e", "\\"}, {"\\&", ""}, {"\\(aq", "'"}, {"\\(dq", "\""}, {"\\(ha", "^"},
      {"\\(ti", "~"}, {"\\(ga", "`"}, {"\\fB", ""}, {"\\fI", ""}, {"\\fR", ""}, {"\\fP", ""},
      {"\\ ", " "},
  }};
  std::string text;
  for (std::size_t i = 0; i < roff.size();) {
    bool replaced = false;
    for (const auto& [escape, character] : kEscapes) {
      if (roff.substr(i).starts_with(escape)) {
        text += character;
        i += escape.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) text += roff[i++];
  }
  return text;
}

std::string noFillBlockAfter(std::string_view page, std::string_view section) {
  const std::vector<std::string_view> lines = linesOf(page);
  std::size_t i = sectionStart(lines, section);
  while (i < lines.size() && lines[i] != ".nf" && !lines[i].starts_with(".SH ")) ++i;
  if (i >= lines.size() || lines[i] != ".nf") return "";
  std::string block;
  for (++i; i < lines.size() && lines[i] != ".fi"; ++i) block += roffToText(lines[i]) + "\n";
  return block;
}

std::vector<QuotedMessage> taggedMessages(std::string_view page, std::string_view section) {
  const std::vector<std::string_view> lines = linesOf(page);
  std::vector<QuotedMessage> messages;
  for (std::size_t i = sectionStart(lines, section); i + 1 < lines.size(); ++i) {
    if (lines[i].starts_with(".SH ")) break;
    if (lines[i] != ".TP" && lines[i] != ".TQ") continue;
    const std::string_view tag = lines[i + 1];
    QuotedMessage message;
    if (tag.starts_with(".B ")) {
      std::string literal;
      for (const std::string& word : macroArguments(tag)) literal += (literal.empty() ? "" : " ") + word;
      message.pieces.push_back(roffToText(literal));
    } else if (tag.starts_with(".BI ")) {
      // Bold and italic alternate: the bold words are literal, each italic
      // word stands for a value the program fills in.
      const std::vector<std::string> words = macroArguments(tag);
      for (std::size_t w = 0; w < words.size(); w += 2) message.pieces.push_back(roffToText(words[w]));
      if (words.size() % 2 == 0) message.pieces.emplace_back();
    } else {
      continue;
    }
    messages.push_back(std::move(message));
  }
  return messages;
}

}  // namespace kvrtest
