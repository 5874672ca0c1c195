// Export, import into an empty database and export again gives the same
// bytes and the same file times, over a generated corpus of routines.
#include <sys/stat.h>

#include <random>

#include "plain_files_fixture.h"

namespace kvrtest {
namespace {

struct SourceFile {
  std::string name;
  std::string content;
  time_t modified;
};

// Routine lines of every kind the files may hold: code with quotes, control
// bytes (all but NUL and line feed), bytes above 127, long lines, and now
// and then an empty line inside the routine.
class CorpusMaker {
 public:
  std::vector<SourceFile> make(int count) {
    std::vector<SourceFile> files;
    for (int i = 0; i < count; ++i) {
      static const char* const kExtensions[] = {".int", ".mac", ".inc"};
      char number[12];  // room for any int
      std::snprintf(number, sizeof number, "%03d", i);
      const std::string name = (i % 25 == 0 ? "_P" : "R") + std::string(number) + kExtensions[i % 3];
      const std::string end = i % 7 == 0 ? "\r\n" : "\n";
      std::string content;
      const int lines = 1 + static_cast<int>(random_() % 12);
      for (int n = 0; n < lines; ++n) content += line(n) + end;
      if (i % 11 == 0) content += "\n after an empty line\n";
      files.push_back({name, content, 1600000000 + i * 3607});
    }
    return files;
  }

 private:
  std::string line(int n) {
    switch (random_() % 6) {
      case 0: return n == 0 ? "LABEL ; first" : " s x=\"say \"\"hi\"\"\",y=$c(9)";
      case 1: return " w \"tab\there\", \"bell\a\"," + std::to_string(n);
      case 2: return bytes(1 + random_() % 200);
      case 3: return std::string(1 + random_() % 30000, 'L') + " ;end";
      case 4: return " ";
      default: return " q";
    }
  }
  std::string bytes(std::size_t length) {
    std::string text;
    while (text.size() < length) {
      const char c = static_cast<char>(1 + random_() % 255);
      if (c != '\n') text += c;
    }
    return text;
  }
  std::mt19937 random_{20231114};
};

// What an export writes for a file: every empty line as a single blank.
std::string asExported(const std::string& content) {
  std::string out;
  std::size_t start = 0;
  while (start < content.size()) {
    const std::size_t end = content.find('\n', start);
    const std::string line = content.substr(start, end - start);
    out += (line.empty() ? " " : line) + "\n";
    start = end + 1;
  }
  return out;
}

class PlainRoundTripTest : public PlainFilesTest {
 protected:
  time_t ModifiedTimeIn(const std::string& folder, const std::string& name) {
    struct stat info {};
    EXPECT_EQ(stat((folder + "/" + name).c_str(), &info), 0) << name;
    return info.st_mtime;
  }
  std::string ReadIn(const std::string& folder, const std::string& name) {
    return dir_.read(folder.substr(dir_.path().size() + 1) + "/" + name);
  }
};

TEST_F(PlainRoundTripTest, ExportImportExportGivesTheSameBytesAndTimes) {
  const std::vector<SourceFile> corpus = CorpusMaker().make(300);
  const std::string source = Folder("source");
  for (const SourceFile& file : corpus) {
    dir_.write("source/" + file.name, file.content);
    SetTime("source/" + file.name, file.modified);
  }
  ASSERT_EQ(RunIn(source, "kvrdbri", {"-m", "all", "*.int,*.mac,*.inc"}).status, 0);

  const std::string first = Folder("first");
  ASSERT_EQ(RunIn(first, "kvrdbro", {"-m", "all", "*,*.mac,*.inc"}).status, 0);
  for (const SourceFile& file : corpus) {
    EXPECT_EQ(ReadIn(first, file.name), asExported(file.content)) << file.name;
    EXPECT_EQ(ModifiedTimeIn(first, file.name), file.modified) << file.name;
  }

  M("k ^ROUTINE,^rMAC,^rINC,^rOBJ");
  ASSERT_EQ(RunIn(first, "kvrdbri", {"*.int,*.mac,*.inc"}).status, 0);
  const std::string second = Folder("second");
  ASSERT_EQ(RunIn(second, "kvrdbro", {"*,*.mac,*.inc"}).status, 0);

  const std::set<std::string> names = FilesIn(first);
  EXPECT_GE(names.size(), corpus.size());
  EXPECT_EQ(FilesIn(second), names);
  for (const std::string& name : names) {
    EXPECT_EQ(ReadIn(second, name), ReadIn(first, name)) << name;
    EXPECT_EQ(ModifiedTimeIn(second, name), ModifiedTimeIn(first, name)) << name;
  }
}

}  // namespace
}  // namespace kvrtest
