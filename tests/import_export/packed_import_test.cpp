// -b on packs many routines into a request, compilations included: a run
// must still show exactly what line by line shows, standard output and
// standard error in the same order (each run is captured as one stream
// here), and store the same. The corpus mixes routines that fit a request
// with staged ones and with one that goes line by line, routines whose
// compilation fails (the compiler echoes their lines, with whatever bytes
// they hold), and files, names and headers that are refused between them.
#include <filesystem>

#include "bulk_corpus.h"

namespace kvrtest {
namespace {

// A routine file with a NUL byte in its second line, which every importer
// refuses whole.
std::string NulRoutineText() {
  static constexpr char kText[] = "NUL ; x\n w \"a\0b\"\n";
  return std::string(kText, sizeof kText - 1);
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// Routine name -> its lines, in the order of a routine-set file.
struct Routine {
  std::string name;
  std::string type;  // INT, MAC or INC
  std::vector<std::string> lines;
};

std::vector<Routine> MixedRoutines() {
  std::vector<Routine> routines;
  routines.push_back({"INC1", "INC", {" ; include", " #define A 1"}});
  for (int i = 0; i < 30; ++i) {
    const std::string name = "SMALL" + std::to_string(10 + i);
    routines.push_back({name, "INT", {name + " ; small", " s x=" + std::to_string(i), " q"}});
  }
  // Compile errors, with lines the compiler echoes: quotes, control bytes,
  // a carriage return, bytes above 127, text that looks like the tool's
  // own progress lines.
  routines.push_back({"BAD1", "INT",
                      {"BAD1 ; errors", " s x=", " w \"open", std::string(" w \x01\x1b[2J") + "\"",
                       "Importing SMALL11.int", " s y=\xe9\xff(", " q\r", " w \"x\"\"\"", " f  ", "tag w ("}});
  std::vector<std::string> big{"BIG ; staged, with errors inside"};
  for (int i = 1; i < 3000; ++i)
    big.push_back(i % 500 == 0 ? " s =" + std::to_string(i) : " s x(" + std::to_string(i) + ")=\"" +
                                                                  std::string(i % 40, '"') + "\"");
  routines.push_back({"BIG", "INT", big});
  routines.push_back({"AFTER", "INT", {"AFTER ; right after a staged one", " q"}});
  // Some 12 kB each: whole in a request, or started in the rest of one.
  for (int i = 0; i < 8; ++i) {
    const std::string name = "MID" + std::to_string(i);
    std::vector<std::string> lines{name + " ; middle"};
    for (int n = 0; n < 190; ++n) lines.push_back(" s y(" + std::to_string(n) + ")=\"" + std::string(50, 'm') + "\"");
    lines.push_back(" w (");
    routines.push_back({name, "INT", lines});
  }
  // A line of 32767 bytes cannot be quoted within a request: line by line,
  // in its turn.
  routines.push_back({"LONG", "INT", {"LONG ; long line", std::string(32767, 'x'), " s ="}});
  routines.push_back({"MAC1", "MAC", {"MAC1 ; macro", " #include INC1", " w (", " q"}});
  routines.push_back({"MAC2", "MAC", {"MAC2 ; macro", " q"}});
  return routines;
}

class PackedImportTest : public BulkTest {
 protected:
  // Standard output and standard error as one stream, in the order written.
  RunResult RunMerged(const std::string& tool, const std::vector<std::string>& args) {
    std::vector<std::string> words{"-c", "exec \"$0\" \"$@\" 2>&1", toolPath(tool)};
    words.insert(words.end(), args.begin(), args.end());
    RunOptions options;
    options.cwd = dir_.path();
    options.timeout = std::chrono::seconds(120);
    RunResult result = runTool("/bin/sh", words, options);
    EXPECT_FALSE(result.timedOut) << tool;
    return result;
  }

  // Both ways on an empty database: the same stream, status and database.
  // Returns the stream.
  std::string ExpectSameImport(const std::string& tool, const std::vector<std::string>& args) {
    EmptyDatabase();
    const RunResult lineByLine = RunMerged(tool, args);
    const std::string expected = Database();
    EmptyDatabase();
    std::vector<std::string> bulkArgs{"-b", "on"};
    bulkArgs.insert(bulkArgs.end(), args.begin(), args.end());
    const RunResult bulk = RunMerged(tool, bulkArgs);
    EXPECT_EQ(bulk.status, lineByLine.status) << tool;
    EXPECT_EQ(bulk.out, lineByLine.out) << tool;
    EXPECT_EQ(Database().size(), expected.size()) << tool;
    EXPECT_TRUE(Database() == expected) << tool;
    return lineByLine.out;
  }
};

TEST_F(PackedImportTest, SourceFilesShowAndStoreAsLineByLine) {
  for (const Routine& r : MixedRoutines()) {
    std::string ext = r.type;
    for (char& c : ext) c = static_cast<char>(std::tolower(c));
    dir_.write(r.name + "." + ext, Lines(r.lines));
  }
  // Refused between the routines: a file with a NUL, a directory.
  dir_.write("NUL.int", NulRoutineText());
  std::filesystem::create_directory(dir_.file("DIR.int"));
  const std::string shown = ExpectSameImport("kvrdbri", {"-m", "all", "*.int,*.mac,*.inc"});
  // The run did meet what the corpus is for.
  EXPECT_NE(shown.find("Compiling BIG.int\nBIG+1: "), std::string::npos) << shown.substr(0, 2000);
  EXPECT_NE(shown.find("BIG+2997: "), std::string::npos);
  EXPECT_NE(shown.find("Compiling BAD1.int\nBAD1+1: "), std::string::npos);
  // The long line is a label of its own, so the error after it is counted from it.
  EXPECT_NE(shown.find("Failed to read file DIR.int.\nImporting LONG.int\nCompiling LONG.int\n" +
                       std::string(32767, 'x') + "+1: "),
            std::string::npos);
  EXPECT_NE(shown.find("errors in MAC1\n"), std::string::npos);
  EXPECT_LT(shown.find("Compiling SMALL39.int"), shown.find("Importing MAC1.mac"));
  // Update mode after one file changed, and -m changed after another: from
  // the same database both ways.
  const auto prepare = [this](const std::string& changed) {
    EmptyDatabase();
    const std::string name = changed.substr(0, changed.find('.'));
    dir_.write(changed, Lines({name + " ; small", " q"}));
    ASSERT_EQ(Run("kvrdbri", {"-m", "all", "*.int,*.mac,*.inc"}).status, 1);
    dir_.write(changed, name + " ; changed\n s =\n");
    SetTime(changed, 1900000000);  // newer than every other file
  };
  for (const std::vector<std::string>& mode :
       {std::vector<std::string>{"-m", "update"}, std::vector<std::string>{"-m", "changed"}}) {
    const std::string file = mode[1] == "update" ? "SMALL12.int" : "SMALL13.int";
    prepare(file);
    std::vector<std::string> args = mode;
    args.push_back("*.int,*.mac,*.inc");
    const RunResult lineByLine = RunMerged("kvrdbri", args);
    const std::string expected = Database();
    prepare(file);
    args.insert(args.begin(), {"-b", "on"});
    const RunResult bulk = RunMerged("kvrdbri", args);
    EXPECT_EQ(bulk.out, lineByLine.out) << mode[1];
    EXPECT_EQ(bulk.status, lineByLine.status) << mode[1];
    EXPECT_NE(bulk.out.find("Importing " + file), std::string::npos) << bulk.out;
    EXPECT_TRUE(Database() == expected) << mode[1];
  }
}

TEST_F(PackedImportTest, GtmFilesShowAndStoreAsLineByLine) {
  for (const Routine& r : MixedRoutines()) dir_.write(r.name + ".m", Lines(r.lines));
  dir_.write("NUL.m", NulRoutineText());
  std::filesystem::create_directory(dir_.file("DIR.m"));
  dir_.write("_BAD^NAME.m", "x\n");
  const std::string shown = ExpectSameImport("kvrdbrigtm", {"*.m"});
  EXPECT_NE(shown.find("Processing file DIR.m\nFailed to read file DIR.m.\nProcessing file INC1.m"),
            std::string::npos)
      << shown.substr(0, 3000);
}

TEST_F(PackedImportTest, RoutineSetsShowAndStoreAsLineByLine) {
  std::string set = "Kovra Tools^^Routine export^~Format=Cache.S~\n\n";
  std::vector<Routine> routines = MixedRoutines();
  for (std::size_t i = 0; i < routines.size(); ++i) {
    const Routine& r = routines[i];
    set += r.name + "^" + (i % 3 == 0 ? std::string() : i % 3 == 1 ? r.type : "int") + "^^66000," +
           std::to_string(i) + "^\n" + Lines(r.lines) + "\n";
    if (i == 5) {
      // A header that tries to close the name's string literal and run M
      // code, an unknown type, a type with bytes above 127 (upper-cased
      // by the server), and a header split at "." instead of "^".
      set += "X\") k ^ROUTINE s y=(\"^INT^^66000,1^\n w 1\n\n";
      set += "ODD^OBJ^^66000,1^\n w 1\n\n";
      set += "WIDE^\xc4\xb1nt^^66000,1^\n w 1\n\n";
      set += "DOT.INT..66000,7\n w 2\n\n";
    }
  }
  dir_.write("a.rsa", set + "\n");
  dir_.write("b.rsa", "Kovra Tools\n\nSMALL10^INT^^66001,1^\n second file\n\n\n");
  std::filesystem::create_directory(dir_.file("c.rsa"));
  const std::string shown = ExpectSameImport("kvrdbrirsa", {"*.rsa"});
  EXPECT_NE(shown.find("Skipping routine X\") k : not a valid routine name.\n"), std::string::npos)
      << shown.substr(0, 3000);
  EXPECT_NE(shown.find("Skipping routine ODD: unknown type OBJ.\n"), std::string::npos);
  EXPECT_NE(shown.find("Importing routine DOT.INT\n"), std::string::npos);
  EXPECT_NE(shown.find("Processing file c.rsa\nFailed to read file c.rsa.\n"), std::string::npos);
}

}  // namespace
}  // namespace kvrtest
