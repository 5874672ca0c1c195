// -m changed, with and without -b on: kvrdbri imports only the files whose
// lines differ from the stored ones (or whose routine is missing), whatever
// the dates; kvrdbro writes only missing or differing files and leaves the
// others untouched, times included; both end with a count on standard error.
#include <utime.h>

#include <ctime>

#include "bulk_corpus.h"

namespace kvrtest {
namespace {

constexpr const char* kMasks = "*,*.mac,*.inc";

class ChangedModeTest : public BulkTest, public ::testing::WithParamInterface<bool> {
 protected:
  std::vector<std::string> Args(std::vector<std::string> args) {
    if (GetParam()) args.insert(args.begin(), {"-b", "on"});
    return args;
  }
};

// The names after "prefix" at the starts of the lines of out, joined by blanks.
std::string Announced(const std::string& out, const std::string& prefix) {
  std::string names;
  for (std::size_t at = 0; (at = out.find(prefix, at)) != std::string::npos; ++at)
    if (at == 0 || out[at - 1] == '\n') names += out.substr(at + prefix.size(), out.find('\n', at) - at - prefix.size()) + " ";
  return names;
}

TEST_P(ChangedModeTest, ImportTakesOnlyFilesWhoseLinesDiffer) {
  const std::vector<SourceFile> corpus = HardCorpus();
  WriteCorpus(corpus);
  ASSERT_EQ(Run("kvrdbri", {"-m", "all", kSources}).status, 0);
  // Edited but older than its routine; newer but the same; its routine gone;
  // one line longer by a trailing blank.
  dir_.write("QUOTES.int", "QUOTES ; edited\n");
  SetTime("QUOTES.int", 1000000000);
  SetTime("ONE.int", 1900000000);
  M(R"(k ^rMAC("MACRO"))");
  dir_.write("INCL.inc", " ; include\n #define Y \"y\" \n");
  const RunResult first = Run("kvrdbri", Args({"-m", "changed", kSources}));
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(Announced(first.out, "Importing "), "INCL.inc QUOTES.int MACRO.mac ");
  EXPECT_EQ(Announced(first.out, "Compiling "), "QUOTES.int MACRO.mac ");
  EXPECT_EQ(first.err, "Compared 14 routines: 3 imported, 11 left as they were.\n");
  tzset();
  EXPECT_EQ(M(R"(w ^ROUTINE("QUOTES",1),"|",$d(^ROUTINE("QUOTES",2)),"|",^ROUTINE("QUOTES",0))"),
            "QUOTES ; edited|0|" + std::to_string((1000000000 - timezone) / 86400 + 47117) + "," +
                std::to_string((1000000000 - timezone) % 86400));
  // Nothing differs any more.
  const std::string stored = Database();
  const RunResult second = Run("kvrdbri", Args({"-m", "changed", kSources}));
  EXPECT_EQ(second.out, "");
  EXPECT_EQ(second.err, "Compared 14 routines: 0 imported, 14 left as they were.\n");
  EXPECT_TRUE(Database() == stored);
}

TEST_P(ChangedModeTest, ExportWritesOnlyMissingOrDifferingFiles) {
  WriteCorpus(HardCorpus());
  ASSERT_EQ(Run("kvrdbri", {"-m", "all", kSources}).status, 0);
  M(R"(k ^ROUTINE("LONG"))");  // too long for the line-by-line export
  const std::string reference = Folder("reference");
  const std::string work = Folder("work");
  ASSERT_EQ(RunIn(reference, "kvrdbro", {"-m", "all", kMasks}).status, 0);
  ASSERT_EQ(RunIn(work, "kvrdbro", {"-m", "all", kMasks}).status, 0);
  // Edited here; deleted here; the same text at another time; changed on
  // the server (with its date kept, so update mode would not see it).
  dir_.write("work/QUOTES.int", "edited\n");
  std::remove((work + "/ONE.int").c_str());
  utimbuf old{1500000000, 1500000000};
  utime((work + "/CTRL.int").c_str(), &old);
  M(R"(s ^ROUTINE("HIGH",3)="changed")");
  ASSERT_EQ(RunIn(reference, "kvrdbro", {"-m", "all", kMasks}).status, 0);
  const RunResult changed = RunIn(work, "kvrdbro", Args({"-m", "changed", kMasks}));
  EXPECT_EQ(changed.status, 0) << changed.err;
  EXPECT_EQ(changed.out, "Exporting routine HIGH.int\nExporting routine ONE.int\nExporting routine QUOTES.int\n");
  EXPECT_EQ(changed.err, "Compared 15 routines: 3 written, 12 left as they were.\n");
  std::map<std::string, FileState> expected = FolderState(reference);
  expected["CTRL.int"].modified = 1500000000;  // left alone
  const std::map<std::string, FileState> written = FolderState(work);
  ASSERT_EQ(written.size(), expected.size());
  for (const auto& [name, state] : expected) {
    EXPECT_TRUE(written.at(name).content == state.content) << name;
    EXPECT_EQ(written.at(name).modified, state.modified) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(LineByLineAndBulk, ChangedModeTest, ::testing::Bool());

}  // namespace
}  // namespace kvrtest
