// Devices: READ at the principal device finds no input and never waits;
// sequential files open only inside the server directory; a job whose
// client has gone stops even in a loop that writes nothing.
#include <sys/stat.h>

#include "engine_test_support.h"

namespace mengine::test {
namespace {

namespace fs = std::filesystem;

using PrincipalTest = EngineTest;

TEST_F(PrincipalTest, ReadsNoInputAndWritesThePrompt) {
  EXPECT_EQ(output("s x=\"old\" r !,\"Name: \",x"), "\r\nName: ");
  EXPECT_EQ(eval("x"), "");
  run("i 1 r y:300,*c:10");
  EXPECT_EQ(eval("y_\"|\"_c_\"|\"_$t"), "|-1|0");
  run("r z#5");
  EXPECT_EQ(eval("z_$zeof"), "0");
  EXPECT_EQ(errorOf("r z#0"), "<READ>");
  EXPECT_EQ(eval("$io=$p"), "1");
  EXPECT_EQ(errorOf("u \"f.txt\""), "<NOTOPEN> *f.txt");
  EXPECT_EQ(errorOf("o \"f.txt\""), "<COMMAND>");  // no server directory: no files
}

TEST_F(PrincipalTest, DeviceZeroIsThePrincipalDevice) {
  EXPECT_EQ(output("o 0 u 0 w \"x\" c 0 w \"y\""), "xy");
  EXPECT_EQ(eval("$io=$p"), "1");
  EXPECT_EQ(errorOf("u 1"), "<NOTOPEN> *1");
}

TEST_F(PrincipalTest, StopsWhenTheClientHasGone) {
  io_.gone = true;
  run("f  s x=1");
  EXPECT_TRUE(job_.halted());
  Job other(server_, 8);
  other.execute("s i=0 f  s i=i+1", io_);
  EXPECT_TRUE(other.halted());
  Job third(server_, 9);
  third.execute("h 100000", io_);
  EXPECT_TRUE(third.halted());
  RecordingIo present;
  Job holder(server_, 10);
  holder.execute("l ^L", present);
  Job waiter(server_, 11);
  waiter.execute("l ^L", io_);
  EXPECT_TRUE(waiter.halted());
}

class FileTest : public EngineTest {
 protected:
  FileTest() : EngineTest(withDirectory(dir_, nullptr)) {}
  static inline TempDir dir_;
  std::string read(const std::string& name) {
    std::ifstream in(dir_.file(name));
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_F(FileTest, WritesAndReadsSequentialFiles) {
  EXPECT_EQ(output("o \"out.txt\":(newversion) u \"out.txt\" w \"line1\",!,\"line2\",?8,\"x\",! "
                   "s x=$x u $p w \"on screen\" c \"out.txt\""),
            "on screen");
  EXPECT_EQ(read("out.txt"), "line1\nline2   x\n");
  EXPECT_EQ(eval("x_\"|\"_($io=$p)"), "0|1");
  run("o \"out.txt\":readonly u \"out.txt\" r a,b s e1=$zeof r c s e2=$zeof u $p c \"out.txt\"");
  EXPECT_EQ(eval("a_\"|\"_b_\"|\"_c_\"|\"_e1_e2"), "line1|line2   x||01");
  run("o \"out.txt\":(append) u \"out.txt\" w \"more\",! c \"out.txt\"");
  EXPECT_EQ(read("out.txt"), "line1\nline2   x\nmore\n");
  run("o \"none.txt\":(readonly):0");
  EXPECT_EQ(eval("$t"), "0");
  EXPECT_EQ(errorOf("o \"none.txt\":(readonly)"), "<DEVICE> *none.txt cannot be opened");
  run("o \"gone.txt\" c \"gone.txt\":delete");
  EXPECT_FALSE(fs::exists(dir_.file("gone.txt")));
}

TEST_F(FileTest, RefusesEveryOtherNameWithoutOpeningIt) {
  dir_.write("kovra.ini", "[Users]\na=secret\n");
  for (const char* name : {"/tmp/kvr_device_test_refused", "../kvr_device_test_refused",
                           "sub/x.txt", ".hidden", "kovra.ini", "USER.journal",
                           "USER.journal.tmp", "kvrdevserver.lock", ""}) {
    std::string line = "o \"" + std::string(name) + "\":(newversion)";
    EXPECT_EQ(errorOf(line),
              "<DEVICE> *" + std::string(name) + " refused: only files of the server directory")
        << name;
  }
  EXPECT_FALSE(fs::exists("/tmp/kvr_device_test_refused"));
  EXPECT_FALSE(fs::exists(fs::path(dir_.path()).parent_path() / "kvr_device_test_refused"));
  EXPECT_EQ(read("kovra.ini"), "[Users]\na=secret\n");
  // A link inside the directory is not followed out of it.
  fs::create_symlink("/tmp/kvr_device_test_refused", dir_.file("link.txt"));
  EXPECT_EQ(errorOf("o \"link.txt\""), "<DEVICE> *link.txt cannot be opened");
  EXPECT_FALSE(fs::exists("/tmp/kvr_device_test_refused"));
  // Only regular files: a FIFO would block the job, a folder is no file.
  ASSERT_EQ(mkfifo(dir_.file("pipe").c_str(), 0600), 0);
  EXPECT_EQ(errorOf("o \"pipe\""), "<DEVICE> *pipe cannot be opened");
  fs::create_directory(dir_.file("folder"));
  EXPECT_EQ(errorOf("o \"folder\":readonly"), "<DEVICE> *folder cannot be opened");
}

}  // namespace
}  // namespace mengine::test
