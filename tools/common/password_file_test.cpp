#include "password_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace kvrtools {
namespace {

std::optional<Credentials> find(std::string_view text, const std::string& login = "") {
  return findInPasswordFile(text, {"db.example.org", "5000", "USER", login});
}

TEST(PasswordFileLines, FirstMatchingLineWinsAndWildcardsMatchAnyField) {
  const std::string text =
      "# comment\n"
      "\n"
      "other.host:5000:USER:bob:wrong\n"
      "db.example.org:5001:USER:bob:wrong\n"
      "db.example.org:5000:%SYS:bob:wrong\n"
      "*:5000:*:bob:first\r\n"
      "db.example.org:5000:USER:bob:second\n";
  const std::optional<Credentials> found = find(text);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->login, "bob");
  EXPECT_EQ(found->password, "first");
  EXPECT_FALSE(find("db.example.org:5000:USER\n"));
  EXPECT_FALSE(find("db.example.org:5000:USER:bob:\n"));  // no password
  EXPECT_FALSE(find("DB.example.org:5000:USER:bob:x\n"));  // byte for byte
}

TEST(PasswordFileLines, GivenLoginMustMatchAndWildcardLoginNeedsIt) {
  const std::string text = "*:*:*:*:any\n*:*:*:bob:bobs\n";
  // Without -l a line must name the login it gives.
  ASSERT_TRUE(find(text));
  EXPECT_EQ(find(text)->login, "bob");
  EXPECT_EQ(find(text)->password, "bobs");
  // With -l the first line for that login, * included.
  EXPECT_EQ(find(text, "carol")->password, "any");
  EXPECT_EQ(find(text, "carol")->login, "carol");
  EXPECT_FALSE(find("*:*:*:bob:bobs\n", "carol"));
}

TEST(PasswordFileLines, EscapesAndColonsInThePassword) {
  // \: and \\ escape; any other backslash stays; the password runs to the
  // end of the line, colons and all.
  const std::optional<Credentials> found = find("db.example.org:5000:USER:a\\:b:p\\\\w:x\\y\\:z\n");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->login, "a:b");
  EXPECT_EQ(found->password, "p\\w:x\\y:z");
  EXPECT_FALSE(find("\\*:5000:USER:bob:pw\n"));  // a backslash and a star, no wildcard
  EXPECT_TRUE(findInPasswordFile("h\\:x:1:D:u:p\n", {"h:x", "1", "D", ""}));
}

class PasswordFileAccess : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kovrapass.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/.kovrapass";
    std::ofstream(path_) << "*:*:*:bob:pw\n";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // What readPasswordFile returns and writes to standard error.
  std::optional<std::string> Read(std::string& warning) {
    ::testing::internal::CaptureStderr();
    std::optional<std::string> text = readPasswordFile(path_);
    warning = ::testing::internal::GetCapturedStderr();
    return text;
  }

  std::string dir_;
  std::string path_;
};

TEST_F(PasswordFileAccess, OnlyAFileOfTheUserAloneIsRead) {
  std::string warning;
  ASSERT_EQ(::chmod(path_.c_str(), 0600), 0);
  EXPECT_EQ(Read(warning), "*:*:*:bob:pw\n");
  EXPECT_EQ(warning, "");
  for (mode_t mode : {0640, 0604, 0620, 0610}) {
    ASSERT_EQ(::chmod(path_.c_str(), mode), 0);
    EXPECT_EQ(Read(warning), std::nullopt) << std::oct << mode;
    EXPECT_EQ(warning, "Ignoring the password file " + path_ + ": group or others have access to it (chmod 600 " +
                           path_ + " to use it).\n");
  }
  std::filesystem::remove(path_);
  EXPECT_EQ(Read(warning), std::nullopt);  // no file: nothing to say
  EXPECT_EQ(warning, "");
  std::filesystem::create_directory(path_);
  ::chmod(path_.c_str(), 0700);
  EXPECT_EQ(Read(warning), std::nullopt);
  EXPECT_EQ(warning, "Ignoring the password file " + path_ + ": it is not a plain file.\n");
}

TEST_F(PasswordFileAccess, VariableNamesTheFileElseTheHomeFolderHoldsIt) {
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome ? oldHome : "";
  ::setenv("HOME", dir_.c_str(), 1);
  ::unsetenv(kPasswordFileVariable);
  EXPECT_EQ(passwordFilePath(), path_);
  ::setenv(kPasswordFileVariable, "/elsewhere/pass", 1);
  EXPECT_EQ(passwordFilePath(), "/elsewhere/pass");
  ::setenv(kPasswordFileVariable, "", 1);
  EXPECT_EQ(passwordFilePath(), path_);
  ::unsetenv(kPasswordFileVariable);
  ::setenv("HOME", savedHome.c_str(), 1);
}

}  // namespace
}  // namespace kvrtools
