#include "file_list.h"

#include "binding.h"
#include "connection_lost.h"
#include "local_files.h"
#include "mask_lines.h"

namespace kvrtools {

StringSet expandFileList(std::string_view fileList) {
  StringSet patterns;
  setGroupReadHandler(collectInto(patterns));
  setVariable("files", fileList);
  exitIfConnectionLost();
  execute(kSplitFilesLine);
  exitIfConnectionLost();
  setGroupReadHandler(nullptr);
  StringSet paths;
  expandPatterns(patterns, paths);
  return paths;
}

}  // namespace kvrtools
