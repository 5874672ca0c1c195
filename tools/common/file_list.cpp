#include "file_list.h"

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
  return paths;
}

bool forEachListedFile(std::string_view fileList, const std::function<bool(const std::string& path)>& work) {
  bool allDone = true;
  for (const std::string& path : expandFileList(fileList))
    if (!work(path)) allDone = false;
  return allDone;
}

}  // namespace kvrtools
