#include "watched_files.h"

#include <fnmatch.h>
#include <glob.h>

#include <algorithm>

#include "local_files.h"
#include "routine_types.h"

namespace kvrimport {

std::vector<std::string> splitFileList(std::string_view fileList) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= fileList.size()) {
    std::size_t end = fileList.find(',', start);
    if (end == std::string_view::npos) end = fileList.size();
    if (end > start) pieces.emplace_back(fileList.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

std::string folderPart(std::string_view pattern) {
  const std::size_t slash = pattern.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(pattern.substr(0, slash + 1));
}

std::vector<std::string> foldersOf(const std::vector<std::string>& patterns) {
  std::vector<std::string> folders;
  auto add = [&folders](std::string folder) {
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(std::move(folder));
  };
  for (const std::string& pattern : patterns) {
    const std::string folder = folderPart(pattern);
    if (folder.find_first_of("*?[") == std::string::npos) {
      add(folder);
      continue;
    }
    glob_t found{};
    // GLOB_MARK ends each folder found with "/", the form of a prefix.
    if (glob(folder.c_str(), GLOB_ONLYDIR | GLOB_MARK, nullptr, &found) == 0) {
      for (std::size_t i = 0; i < found.gl_pathc; ++i) {
        const std::string path = found.gl_pathv[i];
        if (path.ends_with('/')) add(path);  // GLOB_ONLYDIR may still give other files
      }
    }
    globfree(&found);
  }
  return folders;
}

bool matchesAnyPattern(const std::vector<std::string>& patterns, const std::string& path) {
  for (const std::string& pattern : patterns)
    if (fnmatch(pattern.c_str(), path.c_str(), FNM_PATHNAME | FNM_PERIOD) == 0) return true;
  return false;
}

bool isSourceFilePath(std::string_view path) {
  return kvrtools::routineTypeOfExtension(kvrtools::splitFileName(path).extension) != nullptr;
}

}  // namespace kvrimport
