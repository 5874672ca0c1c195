// The settings file and the command line: what ends up in the six settings.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "command_line.h"
#include "settings.h"

namespace kvrtools {
namespace {

class SettingsFileTest : public ::testing::Test {
 protected:
  void TearDown() override { std::filesystem::remove(path_); }

  Settings Read(const std::string& content) {
    std::ofstream(path_, std::ios::binary) << content;
    Settings settings;
    EXPECT_TRUE(readSettingsFile(path_, settings));
    return settings;
  }

  std::string path_ = (std::filesystem::temp_directory_path() /
                       ("kvrct-test-" + std::to_string(::getpid()) + ".ini")).string();
};

TEST_F(SettingsFileTest, KeysInAnyCaseInsideTheSectionOnly) {
  const Settings s = Read(
      "server=before\n"
      "[CONNECTION]\n"
      "  SERVER = db host \r\n"
      "Port=6001\n"
      "; port=1\n"
      "# database=x\n"
      "\n"
      "dataBASE=USER=2\n"
      "unknown=1\n");
  EXPECT_EQ(s.server, "db host");
  EXPECT_EQ(s.port, "6001");
  EXPECT_EQ(s.database, "USER=2");
}

TEST_F(SettingsFileTest, OtherSectionsAndBracketedVariantsLeaveTheSection) {
  const Settings s = Read(
      "[connection]\nserver=a\n"
      "[other]\nserver=b\n"
      "[connection]\ndatabase=c\n"
      "[ connection ]\nport=1\n");
  EXPECT_EQ(s.server, "a");
  EXPECT_EQ(s.database, "c");
  EXPECT_EQ(s.port, "5000");
}

TEST_F(SettingsFileTest, TlsKeysAreKeptOnlyWhenTheFileNamesThem) {
  const Settings s = Read(
      "[connection]\n"
      "TLS = verify-full\n"
      "tls_ca=/etc/kovra/ca.pem\n"
      "tls_cert\n"
      "[other]\n"
      "tls_key=/elsewhere.pem\n");
  EXPECT_EQ(s.tls, "verify-full");
  EXPECT_EQ(s.tlsCa, "/etc/kovra/ca.pem");
  EXPECT_EQ(s.tlsCert, "");  // a bare key: named, and empty
  EXPECT_FALSE(s.tlsKey.has_value());
}

TEST(TlsSettingsTest, AKeyOfTheFileWinsOverTheEnvironment) {
  ::setenv("KOVRA_TLS", "off", 1);
  ::setenv("KOVRA_TLS_CA", "/from/environment.pem", 1);
  ::setenv("KOVRA_TLS_CERT", "/client.pem", 1);
  ::unsetenv("KOVRA_TLS_KEY");
  Settings s;
  s.tls = "require";
  s.tlsCert = "";
  applyTlsSettings(s);
  EXPECT_STREQ(std::getenv("KOVRA_TLS"), "require");
  EXPECT_STREQ(std::getenv("KOVRA_TLS_CA"), "/from/environment.pem");
  EXPECT_EQ(std::getenv("KOVRA_TLS_CERT"), nullptr);  // empty in the file: the default
  EXPECT_EQ(std::getenv("KOVRA_TLS_KEY"), nullptr);
  for (const char* name : {"KOVRA_TLS", "KOVRA_TLS_CA"}) ::unsetenv(name);
}

TEST_F(SettingsFileTest, EmptyValueAndBareKeyEmptyTheSetting) {
  EXPECT_EQ(Read("[connection]\nport=\n").port, "");
  EXPECT_EQ(Read("[connection]\nport\n").port, "");
  EXPECT_EQ(Read("[connection]\nport=1\nport=2\n").port, "2");
}

TEST(SettingsFile, MissingFileKeepsDefaults) {
  Settings s;
  EXPECT_FALSE(readSettingsFile("/nonexistent/kvrct.ini", s));
  EXPECT_EQ(s.port, "5000");
}

TEST(SettingsCheck, FirstMissingSettingIsReported) {
  Settings s;
  EXPECT_STREQ(missingSettingMessage(s), "Kovra TCP/IP server does not defined in connection.");
  s.server = "h";
  s.port.clear();
  EXPECT_STREQ(missingSettingMessage(s), "Kovra TCP/IP port does not defined in connection.");
  s.port = "1";
  EXPECT_STREQ(missingSettingMessage(s), "Kovra database name does not defined in connection.");
  s.database = "USER";
  EXPECT_EQ(missingSettingMessage(s), nullptr);
}

TEST(CommandLineTest, HelpInAnyCaseAndPosition) {
  EXPECT_TRUE(CommandLine({"-H"}).helpRequested());
  EXPECT_TRUE(CommandLine({"x", "-s", "-HELP"}).helpRequested());
  EXPECT_FALSE(CommandLine({"-hel", "--help", "help"}).helpRequested());
}

TEST(CommandLineTest, OptionsOverrideAndTakeTheNextWord) {
  Settings s;
  s.server = "fromfile";
  CommandLine({"-S", "b", "-Port", "-d", "-login", "u", "-w", "pw", "-m", "ALL", "-d"}).applyOptions(s);
  EXPECT_EQ(s.server, "b");
  EXPECT_EQ(s.port, "-d");       // the next word, whatever it looks like
  EXPECT_EQ(s.database, "");     // "-d" as the last word has no value
  EXPECT_EQ(s.login, "u");
  EXPECT_EQ(s.password, "pw");
  EXPECT_EQ(s.mode, "ALL");
  Settings twice;
  CommandLine({"-s", "a", "-server", "b"}).applyOptions(twice);
  EXPECT_EQ(twice.server, "b");
}

TEST(CommandLineTest, PositionalArgumentsSkipOptionWordsAndTheirValues) {
  const CommandLine before({"-s", "host", "-p", "5001", "-d", "USER", "*.int", "@x"});
  const CommandLine after({"*.int", "-s", "host", "-p", "5001", "-d", "USER", "@x"});
  for (const CommandLine* line : {&before, &after}) {
    EXPECT_EQ(line->positional(1), "*.int");
    EXPECT_EQ(line->positional(2), "@x");
    EXPECT_EQ(line->positional(3), std::nullopt);
  }
  // Unknown option words are skipped with their value, too.
  EXPECT_EQ(CommandLine({"-x", "y", "z"}).positional(1), "z");
}

}  // namespace
}  // namespace kvrtools

namespace kvrtools {
namespace {

TEST(CommandLineTest, BulkOptionTakesOnOrOffAndIsNoPositionalArgument) {
  Settings on;
  const CommandLine line({"-B", "ON", "*.int"});
  line.applyOptions(on);
  EXPECT_TRUE(bulkTransfer(on));
  EXPECT_EQ(line.positional(1), "*.int");
  for (const char* value : {"off", "yes", "1", ""}) {
    Settings other;
    CommandLine({"-bulk", value}).applyOptions(other);
    EXPECT_FALSE(bulkTransfer(other)) << value;
  }
  EXPECT_FALSE(bulkTransfer(Settings{}));
}

TEST(CommandLineTest, FirstWordNotUnderstoodIsNamedAndUnderstoodLinesPass) {
  EXPECT_EQ(CommandLine({"-s", "h", "-x", "y"}).mistake(), "Unknown option -x.");
  EXPECT_EQ(CommandLine({"w 1", "-P"}).mistake(), "Option -P needs a value.");
  EXPECT_EQ(CommandLine({"-b", "yes"}).mistake(), "Option -b takes on or off, not 'yes'.");
  EXPECT_EQ(CommandLine({"-m", "x", "-q"}).mistake(), "Option -m takes all, update or changed, not 'x'.");
  // A value is never taken for an option, whatever it looks like.
  EXPECT_EQ(CommandLine({"-w", "-x", "-l", "-m", "-M", "Changed", "-b", "OFF", "*.int", "", "@f"}).mistake(),
            std::nullopt);
  EXPECT_EQ(CommandLine(std::vector<std::string>{}).mistake(), std::nullopt);
}

TEST(CommandLineTest, EveryPositionalArgumentInOrderEmptyOnesIncluded) {
  EXPECT_EQ(CommandLine({"w 1", "-d", "USER", "", "@f"}).positionals(),
            (std::vector<std::string>{"w 1", "", "@f"}));
}

TEST(CommandLineTest, ChangedModeInAnyCase) {
  Settings s;
  CommandLine({"-m", "Changed"}).applyOptions(s);
  EXPECT_TRUE(modeIsChanged(s));
  EXPECT_FALSE(modeIsAll(s));
  s.mode = "change";
  EXPECT_FALSE(modeIsChanged(s));
}

}  // namespace
}  // namespace kvrtools
