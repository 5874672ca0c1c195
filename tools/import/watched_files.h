// Which files a watching kvrdbri follows: the comma-separated patterns of
// its file list, the folders they name, and whether a path seen in one of
// those folders is one of the files the list means.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kvrimport {

// The non-empty comma pieces of fileList, in order.
std::vector<std::string> splitFileList(std::string_view fileList);

// The folder part of a pattern: everything up to and including its last "/"
// ("" for a pattern in the current folder).
std::string folderPart(std::string_view pattern);

// The folders the patterns name, each as the prefix its files' paths begin
// with ("" for the current folder, else ending in "/"), each once. A folder
// part with * or ? is expanded to the folders that exist now; a folder part
// without them is given as it is, existing or not.
std::vector<std::string> foldersOf(const std::vector<std::string>& patterns);

// True when path is one that expanding a pattern (glob) could give: * and ?
// do not cross a "/" and do not match a leading ".".
bool matchesAnyPattern(const std::vector<std::string>& patterns, const std::string& path);

// True when path names a plain source file (.int, .mac or .inc in any
// letter case), the only files an import takes.
bool isSourceFilePath(std::string_view path);

}  // namespace kvrimport
