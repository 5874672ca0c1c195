// -b on against line by line: every import utility leaves the same database
// (every node of every routine global and of the compiled objects) and
// prints the same; every export utility writes the same files, byte for
// byte and time for time, with the same messages. The corpus holds every
// case that is hard to carry in bulk, including a line that has to go line
// by line and a routine with a NUL that cannot travel as terminal output.
#include <utime.h>

#include <ctime>

#include "bulk_corpus.h"

namespace kvrtest {
namespace {


class EquivalenceTest : public BulkTest {
 protected:
  // Runs the import both ways on an empty database each time; both runs
  // must print the same and store the same.
  void ExpectSameImport(const std::string& tool, const std::vector<std::string>& args) {
    EmptyDatabase();
    const RunResult lineByLine = Run(tool, args);
    const std::string expected = Database();
    EmptyDatabase();
    std::vector<std::string> bulkArgs{"-b", "on"};
    bulkArgs.insert(bulkArgs.end(), args.begin(), args.end());
    const RunResult bulk = Run(tool, bulkArgs);
    const std::string stored = Database();
    EXPECT_EQ(lineByLine.status, 0) << tool << lineByLine.err;
    EXPECT_EQ(bulk.status, lineByLine.status) << tool;
    EXPECT_EQ(bulk.out, lineByLine.out) << tool;
    EXPECT_EQ(bulk.err, lineByLine.err) << tool;
    EXPECT_GT(expected.size(), 100000u) << tool;
    EXPECT_EQ(stored.size(), expected.size()) << tool;
    EXPECT_TRUE(stored == expected) << tool;  // too long to print
  }

  // Runs the export both ways, each in a folder of its own that starts with
  // the same files; both must print the same and leave the same files.
  void ExpectSameExport(const std::string& tool, const std::vector<std::string>& args,
                        const std::map<std::string, std::string>& before = {}) {
    const std::string label = tool + std::to_string(++exports_);
    const std::string plain = Folder(label + ".plain");
    const std::string bulk = Folder(label + ".bulk");
    for (const std::string& folder : {plain, bulk}) {
      for (const auto& [name, content] : before) {
        const std::string path = folder + "/" + name;
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
        utimbuf times{1600000000, 1600000000};
        utime(path.c_str(), &times);
      }
    }
    const RunResult lineByLine = RunIn(plain, tool, args);
    std::vector<std::string> bulkArgs{"-b", "on"};
    bulkArgs.insert(bulkArgs.end(), args.begin(), args.end());
    const RunResult inBulk = RunIn(bulk, tool, bulkArgs);
    EXPECT_EQ(lineByLine.status, 0) << tool << lineByLine.err;
    EXPECT_EQ(inBulk.status, lineByLine.status) << tool;
    EXPECT_EQ(inBulk.out, lineByLine.out) << tool;
    EXPECT_EQ(inBulk.err, lineByLine.err) << tool;
    const std::map<std::string, FileState> expected = FolderState(plain);
    const std::map<std::string, FileState> written = FolderState(bulk);
    std::size_t exported = lineByLine.out.size();
    for (const auto& entry : expected) exported += entry.second.content.size();
    EXPECT_GT(exported, 100000u) << tool;  // it did export the corpus
    ASSERT_EQ(written.size(), expected.size()) << tool;
    for (const auto& [name, state] : expected) {
      ASSERT_TRUE(written.contains(name)) << tool << " " << name;
      EXPECT_TRUE(written.at(name).content == state.content) << tool << " " << name;
      // A routine-set file is dated when it is written, not by a routine:
      // the two runs may fall in different seconds.
      if (!name.ends_with(".rsa") && !name.ends_with(".std")) {
        EXPECT_EQ(written.at(name).modified, state.modified) << tool << " " << name;
      }
    }
  }

  int exports_ = 0;
};

TEST_F(EquivalenceTest, EveryImporterStoresTheSameInBulk) {
  const std::vector<SourceFile> corpus = HardCorpus();
  WriteCorpus(corpus);
  ExpectSameImport("kvrdbri", {"-m", "all", kSources});
  // The corpus as GT.M files and as one routine-set file.
  std::string set = "Kovra Tools^^Routine export^~Format=Cache.S~\n\n";
  for (const SourceFile& file : corpus) {
    if (!file.name.ends_with(".int")) continue;
    const std::string name = file.name.substr(0, file.name.size() - 4);
    dir_.write(name + ".m", file.content);
    SetTime(name + ".m", file.modified);
    // Empty lines end a routine in this format: CRLF and EMPTY lose theirs.
    std::string lines;
    for (std::size_t at = 0, end; at < file.content.size(); at = end + 1) {
      end = file.content.find('\n', at);
      const std::string line = file.content.substr(at, end - at);
      if (!line.empty() && line != "\r") lines += line + "\n";
    }
    // A routine set names the routine itself: "_" stands for "%" only in
    // file names.
    const std::string routine = name.starts_with('_') ? "%" + name.substr(1) : name;
    set += routine + "^INT^^66000," + std::to_string(file.modified % 86400) + "^\n" + lines + "\n";
  }
  dir_.write("all.rsa", set + "\n");
  ExpectSameImport("kvrdbrigtm", {"*.m"});
  ExpectSameImport("kvrdbrirsa", {"all.rsa"});
}

TEST_F(EquivalenceTest, UpdateModeImportsTheSameFilesInBulk) {
  const std::vector<SourceFile> corpus = HardCorpus();
  // Stored with the files' dates; then some files newer by one second or an
  // hour, one older than its routine, and one routine missing.
  auto prepare = [&] {
    EmptyDatabase();
    WriteCorpus(corpus);
    ASSERT_EQ(Run("kvrdbri", {"-m", "all", kSources}).status, 0);
    SetTime("QUOTES.int", corpus[0].modified + 1);
    SetTime("INCL.inc", corpus[9].modified + 3600);
    SetTime("CTRL.int", corpus[1].modified - 1);
    M(R"(k ^rMAC("MACRO"))");
  };
  prepare();
  const std::string before = Database();
  const RunResult lineByLine = Run("kvrdbri", {kSources});
  const std::string expected = Database();
  prepare();
  ASSERT_TRUE(Database() == before);
  const RunResult bulk = Run("kvrdbri", {"-b", "on", kSources});
  EXPECT_EQ(bulk.status, 0) << bulk.err;
  EXPECT_EQ(bulk.out, lineByLine.out);
  std::string imported;
  for (std::size_t at = 0; (at = bulk.out.find("Importing ", at)) != std::string::npos; ++at)
    imported += bulk.out.substr(at + 10, bulk.out.find('\n', at) - at - 10) + " ";
  EXPECT_EQ(imported, "INCL.inc QUOTES.int MACRO.mac ");
  EXPECT_TRUE(Database() == expected);
}

TEST_F(EquivalenceTest, EveryExporterWritesTheSameFilesInBulk) {
  WriteCorpus(HardCorpus());
  ASSERT_EQ(Run("kvrdbri", {"-m", "all", kSources}).status, 0);
  // The server cannot write a line of 32767 bytes and its line feed as one
  // string, so the line-by-line export fails on LONG (in bulk it would not).
  M(R"(k ^ROUTINE("LONG"))");
  // What the importers never store: a NUL in a line (terminal output cannot
  // carry it, so this routine goes line by line) and a node with no value.
  M(R"(s ^ROUTINE("NUL",1)="NUL ; x",^ROUTINE("NUL",2)="a"_$c(0)_"b",^ROUTINE("NUL",0)="66000,5",^ROUTINE("NUL")="2,8")");
  M(R"(s ^ROUTINE("HOLE",1)="HOLE",^ROUTINE("HOLE",2,1)="under",^ROUTINE("HOLE",3)=" q",^ROUTINE("HOLE",0)="66000,6")");
  ExpectSameExport("kvrdbro", {"-m", "all", "*,*.mac,*.inc"});
  ExpectSameExport("kvrdbrogtm", {"*"});
  ExpectSameExport("kvrdbrorsa", {"*,*.mac,*.inc", "all.rsa"});
  ExpectSameExport("kvrdbrostd", {"*", "all.std"});
  ExpectSameExport("kvrdbrorsa", {"*,*.mac,*.inc"});
}

TEST_F(EquivalenceTest, UpdateModeExportWritesTheSameFilesInBulk) {
  WriteCorpus(HardCorpus());
  ASSERT_EQ(Run("kvrdbri", {"-m", "all", kSources}).status, 0);
  M(R"(k ^ROUTINE("LONG"))");  // as above
  // Files as old as their routines (INT skipped, INC and MAC written), one
  // newer, one older, and the rest missing; the folder starts with them.
  const std::map<std::string, std::string> before{
      {"ONE.int", "old\n"}, {"QUOTES.int", "old\n"}, {"INCL.inc", "old\n"}, {"MACRO.mac", "old\n"}};
  M(R"(s ^ROUTINE("ONE",0)="66000,1",^ROUTINE("QUOTES",0)="70000,1")");
  // The date of the folder's files, in local standard time as the tools
  // convert it.
  tzset();
  const long long local = 1600000000LL - timezone;
  const std::string sameAsFile = std::to_string(local / 86400 + 47117) + "," + std::to_string(local % 86400);
  M(R"(s ^rINC("INCL",0)=")" + sameAsFile + R"(",^rMAC("MACRO",0)=")" + sameAsFile + R"(")");
  ExpectSameExport("kvrdbro", {"*,*.mac,*.inc"}, before);
}

}  // namespace
}  // namespace kvrtest
