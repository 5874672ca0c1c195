// The corpus of the bulk tests: source files with every case that is hard
// to carry in bulk, and verbs to compare databases and folders whole.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tool_fixture.h"

namespace kvrtest {

// The file list that takes every source file of the corpus.
inline constexpr const char* kSources = "*.int,*.mac,*.inc";

struct SourceFile {
  std::string name;  // NAME.ext, "_" for "%"
  std::string content;
  time_t modified;
};

// Quotes, control bytes, CR LF, bytes 128-255, empty lines, % names, a
// routine of one line, of none, of thousands, one that needs several
// requests, a line of 32767 bytes; INC, INT and MAC files.
std::vector<SourceFile> HardCorpus();

// The names of a folder's files (not the library or the settings) with their
// bytes and modification times.
struct FileState {
  std::string content;
  time_t modified;
  bool operator==(const FileState&) const = default;
};
std::map<std::string, FileState> FolderState(const std::string& path);

class BulkTest : public ToolTest {
 protected:
  // Writes the corpus into the test folder.
  void WriteCorpus(const std::vector<SourceFile>& corpus);
  void SetTime(const std::string& name, time_t modified);

  // Every node of every routine global with the length of each value, and
  // the nodes of the compiled objects, as one text.
  std::string Database();
  void EmptyDatabase() { M("k ^ROUTINE,^rMAC,^rINC,^rOBJ"); }
};

}  // namespace kvrtest
