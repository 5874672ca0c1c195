#include "bulk_corpus.h"

#include <dirent.h>
#include <sys/stat.h>
#include <utime.h>

#include <filesystem>

namespace kvrtest {
namespace {

constexpr time_t kBase = 1700000000;

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

}  // namespace

std::vector<SourceFile> HardCorpus() {
  std::vector<SourceFile> corpus;
  auto add = [&corpus](const std::string& name, const std::string& content) {
    corpus.push_back({name, content, kBase + static_cast<time_t>(corpus.size()) * 61});
  };
  add("QUOTES.int", Lines({"QUOTES ; \"quoted\"", " s x=\"a\"\"b\"", " w \"\"\"\"", "\"", "\"\"\"\"\""}));
  add("CTRL.int", Lines({"CTRL ; control", std::string(" s x=\"") + "\x01\x02\x07\t\x1b\x7f" + "\"",
                         std::string("\x1f") + "start", "end" + std::string("\x03")}));
  add("CRLF.int", "CRLF ; cr lf\r\n w 1\r\n\r\n q\r\n");
  std::string high;
  for (int b = 128; b < 256; ++b) high += static_cast<char>(b);
  add("HIGH.int", Lines({"HIGH ; bytes above 127", " w \"" + high + "\"", high}));
  add("EMPTY.int", Lines({"EMPTY ; empty lines inside", "", " w 1", "", "", " q"}));
  add("_PCT.int", Lines({"%PCT ; percent name", " q"}));
  add("_PCM.mac", Lines({"%PCM ; percent macro", " #define X 1"}));
  add("ONE.int", Lines({"ONE q"}));
  add("NONE.inc", "");
  add("INCL.inc", Lines({" ; include", " #define Y \"y\""}));
  add("MACRO.mac", Lines({"MACRO ; macro", " w \"m\",!"}));
  std::vector<std::string> many{"MANY ; thousands of lines"};
  for (int i = 1; i < 4000; ++i) many.push_back(" s x(" + std::to_string(i) + ")=\"" + std::string(i % 60, 'q') + "\"");
  add("MANY.int", Lines(many));
  // Lines whose quoted form grows: quotes double, control bytes take $C.
  std::vector<std::string> heavy{"HEAVY ; needs several requests"};
  for (int i = 0; i < 6; ++i) heavy.push_back(std::string(9000, '"'));
  for (int i = 0; i < 3; ++i) heavy.push_back(std::string(3000, '\x01'));
  add("HEAVY.int", Lines(heavy));
  // 32767 bytes: cannot be quoted within a request; goes line by line.
  add("LONG.int", Lines({"LONG ; one line of 32767 bytes", std::string(32767, 'x'), " q"}));
  return corpus;
}

std::map<std::string, FileState> FolderState(const std::string& path) {
  std::map<std::string, FileState> state;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    const std::string name = entry.path().filename().string();
    if (name == "libkovrasc.so" || name == "kvrct.ini") continue;
    struct stat info {};
    stat(entry.path().c_str(), &info);
    std::string content;
    if (FILE* f = std::fopen(entry.path().c_str(), "rb")) {
      char buffer[65536];
      while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, f)) content.append(buffer, n);
      std::fclose(f);
    }
    state[name] = {content, info.st_mtime};
  }
  return state;
}

void BulkTest::WriteCorpus(const std::vector<SourceFile>& corpus) {
  for (const SourceFile& file : corpus) {
    dir_.write(file.name, file.content);
    SetTime(file.name, file.modified);
  }
}

void BulkTest::SetTime(const std::string& name, time_t modified) {
  utimbuf times{modified, modified};
  ASSERT_EQ(utime(dir_.file(name).c_str(), &times), 0) << name;
}

std::string BulkTest::Database() {
  // An object's value is the time it was compiled: only its nodes count.
  return M(R"(f g="^rINC","^ROUTINE","^rMAC" s r=g f  s r=$q(@r) q:r=""  w r,"=",$l(@r),":",@r,$c(10))") +
         M(R"(s r="^rOBJ" f  s r=$q(@r) q:r=""  w r,$c(10))");
}

}  // namespace kvrtest
