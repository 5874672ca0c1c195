// Round trips over a generated corpus: routines stored straight into the
// database go out through an export tool, the database is emptied, the file
// comes back through the matching import tool, and the database holds what
// it held before (names, types, lines, dates as far as the format carries
// them); a second export gives the same bytes.
#include <map>
#include <random>

#include "format_fixture.h"

namespace kvrtest {
namespace {

struct CorpusRoutine {
  std::string global;
  std::string name;
  std::string date;
  std::vector<std::string> lines;
};

// A line of the corpus: mostly M-like text, with blanks, tabs, quotes, bytes
// above 127 and other control bytes inside, a CR at the end now and then,
// and sometimes thousands of bytes long. Never empty, never a line feed or a
// NUL (the formats cannot carry them), never a lone CR.
std::string MakeLine(std::mt19937& random) {
  const std::size_t length = random() % 30 == 0 ? 1000 + random() % 12000 : 1 + random() % 70;
  std::string line;
  while (line.size() < length) {
    const unsigned pick = random() % 100;
    if (pick < 80) line += static_cast<char>(32 + random() % 95);
    else if (pick < 88) line += '"';
    else if (pick < 94) line += static_cast<char>(128 + random() % 128);
    else if (pick < 98) line += '\t';
    else line += static_cast<char>(1 + random() % 8);
  }
  if (random() % 10 == 0) line += '\r';
  return line;
}

std::vector<CorpusRoutine> MakeCorpus(std::size_t count, bool allTypes) {
  std::mt19937 random(20261207);
  const char* prefixes[] = {"R", "%Z", "ab", "Q"};
  const char* globals[] = {"^ROUTINE", "^rMAC", "^rINC"};
  std::vector<CorpusRoutine> corpus;
  for (std::size_t i = 0; i < count; ++i) {
    CorpusRoutine routine;
    // Every tenth routine takes the name of the one before, in another
    // global where the format has several.
    const std::size_t n = allTypes && i % 10 == 9 ? i - 1 : i;
    routine.name = prefixes[n % 4] + std::to_string(n);
    routine.global = allTypes ? globals[i % 3] : globals[0];
    routine.date = std::to_string(50000 + random() % 20000) + "," + std::to_string(random() % 86400);
    const std::size_t lines = random() % 25 == 0 ? 0 : 1 + random() % 12;
    for (std::size_t j = 0; j < lines; ++j) routine.lines.push_back(MakeLine(random));
    corpus.push_back(std::move(routine));
  }
  return corpus;
}

// An M expression for text: quoted pieces, with $c() for control bytes.
std::string MText(const std::string& text) {
  std::string expr = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte == 127) expr += "\"_$c(" + std::to_string(byte) + ")_\"";
    else if (c == '"') expr += "\"\"";
    else expr += c;
  }
  return expr + "\"";
}

constexpr const char* kDumpLine =
    R"(f g="^rINC","^ROUTINE","^rMAC" s r="" f  s r=$o(@g@(r)) q:r=""  w g,"(",r,")=",@g@(r),$c(10) )"
    R"(s n="" f  s n=$o(@g@(r,n)) q:n=""  s v=@g@(r,n) w n,"=",$l(v),":",v,$c(10))";

class RoundTripTest : public FormatTest {
 protected:
  // Stores the corpus through one kvrdbexec run of a file of M lines.
  void Store(const std::vector<CorpusRoutine>& corpus) {
    std::string file;
    for (const CorpusRoutine& r : corpus) {
      const std::string node = r.global + "(" + Quote(r.name);
      std::size_t chars = 0;
      for (std::size_t i = 0; i < r.lines.size(); ++i) {
        file += "s " + node + "," + std::to_string(i + 1) + ")=" + MText(r.lines[i]) + "\n";
        chars += r.lines[i].size();
      }
      file += "s " + node + ")=\"" + std::to_string(r.lines.size()) + "," + std::to_string(chars) + "\"," + node +
              ",0)=\"" + r.date + "\"\n";
    }
    dir_.write("corpus.txt", file);
    const RunResult result = Run("kvrdbexec", {"@corpus.txt"});
    ASSERT_EQ(result.status, 0) << result.err.substr(0, 2000);
  }

  // What the dump line prints for the corpus, each date replaced by date
  // when one is given.
  static std::string Expected(const std::vector<CorpusRoutine>& corpus, const std::string& date = "") {
    std::map<std::string, std::map<std::string, const CorpusRoutine*>> byGlobal;
    for (const CorpusRoutine& r : corpus) byGlobal[r.global][r.name] = &r;
    std::string dump;
    for (const char* global : {"^rINC", "^ROUTINE", "^rMAC"}) {
      for (const auto& [name, r] : byGlobal[global]) {
        std::size_t chars = 0;
        for (const std::string& line : r->lines) chars += line.size();
        dump += std::string(global) + "(" + name + ")=" + std::to_string(r->lines.size()) + "," +
                std::to_string(chars) + "\n";
        const std::string d = date.empty() ? r->date : date;
        dump += "0=" + std::to_string(d.size()) + ":" + d + "\n";
        for (std::size_t i = 0; i < r->lines.size(); ++i)
          dump += std::to_string(i + 1) + "=" + std::to_string(r->lines[i].size()) + ":" + r->lines[i] + "\n";
      }
    }
    return dump;
  }

  void ExpectDump(const std::string& expected) {
    const std::string dump = M(kDumpLine);
    ASSERT_EQ(dump.size(), expected.size());
    EXPECT_TRUE(dump == expected);  // megabytes: no diff printed
  }

  void EmptyDatabase() { M("k ^ROUTINE,^rMAC,^rINC"); }
};

TEST_F(RoundTripTest, RsaCarriesNamesTypesLinesAndDates) {
  const std::vector<CorpusRoutine> corpus = MakeCorpus(300, true);
  Store(corpus);
  const std::string expected = Expected(corpus);
  ExpectDump(expected);
  ASSERT_EQ(Run("kvrdbrorsa", {"*.INT,*.MAC,*.INC", "a.rsa"}).status, 0);
  EmptyDatabase();
  const RunResult imported = Run("kvrdbrirsa", {"a.rsa"});
  EXPECT_EQ(imported.status, 0) << imported.err;
  ExpectDump(expected);
  ASSERT_EQ(Run("kvrdbrorsa", {"*.INT,*.MAC,*.INC", "b.rsa"}).status, 0);
  EXPECT_TRUE(dir_.read("a.rsa") == dir_.read("b.rsa"));
}

TEST_F(RoundTripTest, AnsiCarriesNamesAndLinesDatedByTheFile) {
  const std::vector<CorpusRoutine> corpus = MakeCorpus(300, false);
  Store(corpus);
  ASSERT_EQ(Run("kvrdbrostd", {"*", "a.std"}).status, 0);
  EmptyDatabase();
  SetFileTime("a.std", kLateEpoch);
  const RunResult imported = Run("kvrdbrirsa", {"a.std"});
  EXPECT_EQ(imported.status, 0) << imported.err;
  ExpectDump(Expected(corpus, Timestamp(kLateEpoch)));
  ASSERT_EQ(Run("kvrdbrostd", {"*", "b.std"}).status, 0);
  EXPECT_TRUE(dir_.read("a.std") == dir_.read("b.std"));
}

TEST_F(RoundTripTest, GtmCarriesNamesLinesAndDatesThroughFileTimes) {
  const std::vector<CorpusRoutine> corpus = MakeCorpus(300, false);
  Store(corpus);
  ASSERT_EQ(Run("kvrdbrogtm", {"*"}).status, 0);
  std::map<std::string, std::pair<std::string, long long>> first;
  for (const CorpusRoutine& r : corpus) {
    const std::string file = (r.name[0] == '%' ? "_" + r.name.substr(1) : r.name) + ".m";
    first[file] = {dir_.read(file), FileTime(file)};
  }
  EmptyDatabase();
  const RunResult imported = Run("kvrdbrigtm", {"*.m"});
  EXPECT_EQ(imported.status, 0) << imported.err;
  ExpectDump(Expected(corpus));
  ASSERT_EQ(Run("kvrdbrogtm", {"*"}).status, 0);
  for (const auto& [file, content] : first) {
    EXPECT_TRUE(dir_.read(file) == content.first) << file;
    EXPECT_EQ(FileTime(file), content.second) << file;
  }
}

}  // namespace
}  // namespace kvrtest
