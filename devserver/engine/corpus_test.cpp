// The conformance corpus: the M routines that an installed fis-gtm package
// ships as source, each compiled through compile^%RCOMPIL. Real code written
// by others is the test of whether the parser knows the whole language.
#include <filesystem>
#include <fstream>
#include <regex>

#include "engine_test_support.h"

namespace mengine::test {
namespace {

namespace fs = std::filesystem;

// The directories /usr/lib/<arch>/fis-gtm/<version>/ holding *.m sources.
std::vector<fs::path> corpusFiles() {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& arch : fs::directory_iterator("/usr/lib", ec)) {
    fs::path root = arch.path() / "fis-gtm";
    if (!fs::is_directory(root, ec)) continue;
    for (const auto& version : fs::directory_iterator(root, ec))
      for (const auto& file : fs::directory_iterator(version.path(), ec))
        if (file.path().extension() == ".m" && file.is_regular_file()) files.push_back(file.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// _NAME.m holds the routine %NAME.
std::string routineName(const fs::path& file) {
  std::string name = file.stem().string();
  if (!name.empty() && name[0] == '_') name[0] = '%';
  return name;
}

std::vector<std::string> readLines(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

class CorpusTest : public EngineTest {
 protected:
  void SetUp() override {
    files_ = corpusFiles();
    if (files_.empty()) GTEST_SKIP() << "no M sources of the fis-gtm package under /usr/lib/*/fis-gtm/";
  }
  std::vector<fs::path> files_;
};

TEST_F(CorpusTest, CompilesEveryShippedRoutineWithoutAnError) {
  const std::vector<fs::path>& files = files_;
  size_t lines = 0;
  size_t errors = 0;
  std::string report;
  const std::regex errorLine("^%?[A-Za-z0-9]+\\+[0-9]+: <[A-Z ]+>.*");
  for (const auto& file : files) {
    std::string name = routineName(file);
    std::vector<std::string> text = readLines(file);
    lines += text.size();
    storeRoutine(name, text);
    std::string out = output("d compile^%RCOMPIL(\"" + name + ".INT\")");
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
      if (!std::regex_match(line, errorLine)) continue;
      ++errors;
      if (report.size() < 20000) report += line + "\n";
    }
    job_.kill("^ROUTINE(\"" + name + "\")", io_);
  }
  std::printf("corpus: %zu routines, %zu lines, %zu errors\n", files.size(), lines, errors);
  EXPECT_EQ(errors, 0u) << report;
}

// Routines of the corpus that need nothing implementation-specific run, and
// give the answers arithmetic says they must.
TEST_F(CorpusTest, RunsShippedConversionRoutines) {
  for (const auto& file : files_) storeRoutine(routineName(file), readLines(file));
  struct Case {
    const char* expression;
    const char* expected;
  } cases[] = {
      {"$$FUNC^%DH(255,4)", "00FF"},  {"$$FUNC^%HD(\"FF\")", "255"},
      {"$$FUNC^%HO(\"1F\")", "37"},   {"$$FUNC^%OH(17)", "F"},
      {"$$FUNC^%DO(8)", "000000000010"}, {"$$FUNC^%SQROOT(16)", "4"},
      {"$$FUNC^%EXP(2,3)", "8"},      {"$$FUNC^%TRIM(\"  a b  \")", "a b"},
  };
  for (const auto& c : cases) EXPECT_EQ(eval(c.expression), c.expected) << c.expression;
}

}  // namespace
}  // namespace mengine::test
