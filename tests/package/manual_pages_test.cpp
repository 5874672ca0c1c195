// The manual pages against the programs: each page's synopsis is the
// program's own usage text, byte for byte; every message a page quotes is
// one the programs print; kovrasc(3) names every exported function; and
// groff renders every page without a warning.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"
#include "roff_text.h"

namespace kvrtest {
namespace {

const std::vector<std::string> kUtilities = {
    "kvrdbri",   "kvrdbrigtm",  "kvrdbrirsa", "kvrdbro",      "kvrdbrorsa", "kvrdbrogtm",
    "kvrdbrostd", "kvrdblist", "kvrdbrfirst", "kvrdbkill", "kvrdbcompile", "kvrdbexec",
};

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::filesystem::path pagePath(const std::string& name) {
  return std::filesystem::path(KVR_SOURCE_DIR) / "man" / name;
}

RunResult help(const std::string& program, const TempDir& dir) {
  RunOptions options;
  options.cwd = dir.path();
  return runTool(toolPath(program), {"-h"}, options);
}

TEST(ManualPagesTest, EachUtilitySynopsisIsItsHelpTextByteForByte) {
  const TempDir dir;  // no kvrct.ini, no library: -h must not need them
  for (const std::string& tool : kUtilities) {
    const std::string synopsis = noFillBlockAfter(readFile(pagePath(tool + ".1")), "SYNOPSIS");
    const RunResult result = help(tool, dir);
    EXPECT_EQ(result.status, 0) << tool;
    EXPECT_TRUE(result.err.starts_with("Kovra CommandLine Tools.\n")) << tool;
    EXPECT_EQ(synopsis, result.err) << tool;
  }
}

TEST(ManualPagesTest, ServerSynopsisIsItsUsageLine) {
  const TempDir dir;
  const RunResult result = help("kvrdevserver", dir);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(noFillBlockAfter(readFile(pagePath("kvrdevserver.1")), "SYNOPSIS"), result.out);
}

TEST(ManualPagesTest, QuotedMessagesAreTheOnesTheUtilitiesPrint) {
  // Every source of the utilities, with "%.*s" read as the "%s" it prints like.
  std::string sources;
  const std::filesystem::path tools = std::filesystem::path(KVR_SOURCE_DIR) / "tools";
  for (const auto& entry : std::filesystem::recursive_directory_iterator(tools))
    if (entry.path().extension() == ".cpp") sources += readFile(entry.path());
  for (std::size_t at; (at = sources.find("%.*s")) != std::string::npos;) sources.replace(at, 4, "%s");

  std::size_t checked = 0;
  for (const std::string& tool : kUtilities) {
    for (const QuotedMessage& message : taggedMessages(readFile(pagePath(tool + ".1")), "DIAGNOSTICS")) {
      std::string format;
      for (std::size_t i = 0; i < message.pieces.size(); ++i) format += (i ? "%s" : "") + message.pieces[i];
      EXPECT_NE(sources.find(format), std::string::npos) << tool << ": " << format;
      ++checked;
    }
  }
  EXPECT_GE(checked, 20u);  // the pages really quote messages
}

TEST(ManualPagesTest, LibraryPageNamesEveryExportedFunction) {
  const std::string header = readFile(std::filesystem::path(KVR_SOURCE_DIR) / "lib/include/kovrasc.h");
  const std::string page = readFile(pagePath("kovrasc.3"));
  const std::string names = page.substr(0, page.find(".SH SYNOPSIS"));
  std::size_t functions = 0;
  for (std::size_t at = 0; (at = header.find("KOVRASC_API ", at)) != std::string::npos; ++at) {
    const std::size_t paren = header.find('(', at);
    std::size_t start = header.rfind(' ', paren) + 1;
    if (header[start] == '*') ++start;
    const std::string name = header.substr(start, paren - start);
    if (name.find("KVR") != 0) continue;  // the macro's own definition
    ++functions;
    EXPECT_NE(names.find(name), std::string::npos) << name << " missing from NAME";
    EXPECT_NE(page.find(name + "("), std::string::npos) << name << " missing from SYNOPSIS";
  }
  EXPECT_EQ(functions, 17u);
}

TEST(ManualPagesTest, EveryPageRendersWithoutWarnings) {
  if (std::string(KVR_GROFF).empty()) GTEST_SKIP() << "groff is not installed";
  std::vector<std::filesystem::path> pages;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(KVR_SOURCE_DIR) / "man"))
    pages.push_back(entry.path());
  EXPECT_EQ(pages.size(), kUtilities.size() + 3);  // and kvrdevserver(1), kovrasc(3), kvrct.ini(5)
  const TempDir dir;
  RunOptions options;
  options.cwd = dir.path();
  for (const auto& page : pages) {
    const RunResult result = runTool(KVR_GROFF, {"-man", "-ww", "-z", "-Tutf8", page.string()}, options);
    EXPECT_EQ(result.status, 0) << page;
    EXPECT_EQ(result.err, "") << page;
  }
}

}  // namespace
}  // namespace kvrtest
