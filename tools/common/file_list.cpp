#include "file_list.h"

#include <cstdio>

#include "binding.h"
#include "local_files.h"
#include "mask_selection.h"

namespace kvrtools {
namespace {

// Hands back each comma piece of the local files.
constexpr std::string_view kSplitFilesLine = R"(f n=1:1:$l(files,",") d wo^%srv($p(files,",",n)))";

}  // namespace

StringSet expandFileList(std::string_view fileList) {
  setVariable("files", fileList);
  const StringSet patterns = valuesHandedBack(kSplitFilesLine);
  StringSet paths;
  expandPatterns(patterns, paths);
  if (paths.empty()) {
    // Told apart from a run that found everything current: a typo in a
    // pattern must not pass for success.
    std::fflush(stdout);
    std::fprintf(stderr, "No file matches %.*s.\n", static_cast<int>(fileList.size()), fileList.data());
  }
  return paths;
}

bool forEachListedFile(std::string_view fileList, const std::function<bool(const std::string& path)>& work) {
  const StringSet paths = expandFileList(fileList);
  bool allDone = !paths.empty();
  for (const std::string& path : paths)
    if (!work(path)) allDone = false;
  return allDone;
}

}  // namespace kvrtools
