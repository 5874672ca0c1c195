// The stand-in libtindra.so through its binary interface alone: the built
// library is loaded by path, its machine created with recording device
// call-backs, and its services called as any host would.
#include <dlfcn.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tindra_vm.h"

namespace {

std::vector<std::string>* recorded = nullptr;

std::string Text(const KOVRA_STR& record) { return std::string(record.str, record.len); }

std::int32_t RecordString(TINDRAVM*, const ZVALUE* value) {
  recorded->push_back("str:" + Text(value->text));
  return 0;
}
std::int32_t RecordChar(TINDRAVM*, std::int32_t code) {
  recorded->push_back("char:" + std::to_string(code));
  return 0;
}
std::int32_t RecordNewLine(TINDRAVM*) {
  recorded->push_back("nl");
  return 0;
}
std::int32_t RecordFormFeed(TINDRAVM*) {
  recorded->push_back("ff");
  return 0;
}
std::int32_t RecordTab(TINDRAVM*, std::int32_t count) {
  recorded->push_back("tab:" + std::to_string(count));
  return 0;
}
std::int32_t RefuseString(TINDRAVM*, const ZVALUE*) { return 1; }

class StandInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = ::dlopen(TINDRA_STANDIN, RTLD_LAZY);
    ASSERT_NE(library_, nullptr) << ::dlerror();
    defaults_ = reinterpret_cast<GetDefaultSettingsVM_t>(::dlsym(library_, "GetDefaultSettingsVM"));
    create_ = reinterpret_cast<CreateTindraVM_t>(::dlsym(library_, "CreateTindraVM"));
    free_ = reinterpret_cast<FreeTindraVM_t>(::dlsym(library_, "FreeTindraVM"));
    ASSERT_TRUE(defaults_ && create_ && free_);
    defaults_(&settings_);
    settings_.devwritestr = RecordString;
    settings_.devwritechar = RecordChar;
    settings_.devwritenl = RecordNewLine;
    settings_.devwriteff = RecordFormFeed;
    settings_.devwritetab = RecordTab;
    recorded = &output_;
  }
  void TearDown() override {
    if (free_) free_();
    recorded = nullptr;
    if (library_) ::dlclose(library_);
  }

  const ZDLLCB& Create() {
    EXPECT_EQ(create_(&settings_), 0);
    return *settings_.services;
  }

  static std::unique_ptr<KOVRA_STR> Record(const std::string& text) {
    auto record = std::make_unique<KOVRA_STR>();
    record->len = static_cast<std::uint16_t>(text.size());
    text.copy(record->str, text.size());
    return record;
  }
  std::vector<KOVRA_STR> Records(const std::vector<std::string>& texts) {
    std::vector<KOVRA_STR> records(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
      records[i].len = static_cast<std::uint16_t>(texts[i].size());
      texts[i].copy(records[i].str, texts[i].size());
    }
    return records;
  }
  std::string Eval(const ZDLLCB& s, const std::string& expression) {
    auto value = std::make_unique<ZVALUE>();
    EXPECT_EQ(s.eval(Record(expression).get(), value.get()), 0) << expression;
    return Text(value->text);
  }
  std::string Error(const ZDLLCB& s) {
    auto text = std::make_unique<KOVRA_STR>();
    EXPECT_EQ(s.errstr(text.get()), 0);
    return Text(*text);
  }

  void* library_ = nullptr;
  GetDefaultSettingsVM_t defaults_ = nullptr;
  CreateTindraVM_t create_ = nullptr;
  FreeTindraVM_t free_ = nullptr;
  TINDRAVM settings_{};
  std::vector<std::string> output_;
};

const ZDLLCB* ServicesOf(const TINDRAVM& vm) { return vm.services; }

TEST_F(StandInTest, OneMachineAtATimeAndOnlyFromSettingsOfThisLayout) {
  TINDRAVM other{};
  defaults_(&other);
  other.recordSize = 200;
  EXPECT_EQ(create_(&other), 2);
  EXPECT_EQ(create_(&settings_), 0);
  // The records are packed: their pointer fields are read by value, never
  // bound to a reference, which would be misaligned.
  ASSERT_NE(ServicesOf(settings_), nullptr);
  defaults_(&other);
  EXPECT_EQ(create_(&other), 1);
  EXPECT_EQ(ServicesOf(other), nullptr);
  free_();
  EXPECT_EQ(ServicesOf(settings_), nullptr);
  EXPECT_EQ(create_(&other), 0);
}

TEST_F(StandInTest, OutputIsSplitOverTheDeviceCallBacks) {
  const ZDLLCB& s = Create();
  ASSERT_EQ(s.execute(Record("w \"ab\",!,#,$C(9,9),\"c\",$C(13),\"d\",$C(10,9)").get()), 0);
  const std::vector<std::string> expected{"str:ab", "nl",   "ff",      "tab:2", "str:c",
                                          "char:13", "str:d", "char:10", "tab:1"};
  EXPECT_EQ(output_, expected);
}

TEST_F(StandInTest, RefusedOutputStopsTheLine) {
  settings_.devwritestr = RefuseString;
  const ZDLLCB& s = Create();
  EXPECT_NE(s.execute(Record("w 1 s z=1").get()), 0);
  EXPECT_EQ(Error(s), "<WRITE>");
  EXPECT_EQ(Eval(s, "$D(z)"), "0");
}

TEST_F(StandInTest, SubscriptsAreDataNeverCode) {
  const ZDLLCB& s = Create();
  const std::string odd("q\"),^X(1)=\"\r\0", 13);
  const auto subscripts = Records({"1", odd});
  const auto value = Record("v");
  ASSERT_EQ(s.writeglobal(Record("G").get(), 2, subscripts.data(), value.get()), 0);
  EXPECT_EQ(Eval(s, "$D(^X)"), "0");
  EXPECT_EQ(Eval(s, "$L($O(^G(1,\"\")))"), "13");
  auto read = std::make_unique<ZVALUE>();
  ASSERT_EQ(s.readglobal(Record("G").get(), 2, subscripts.data(), read.get()), 0);
  EXPECT_EQ(Text(read->text), "v");
  // A name is a name: anything else is refused before it reaches M code.
  EXPECT_NE(s.writelocal(Record("a s ^X=1").get(), 0, nullptr, value.get()), 0);
  EXPECT_EQ(Error(s), "<SYNTAX>");
  EXPECT_EQ(Eval(s, "$D(^X)"), "0");
}

TEST_F(StandInTest, ReferenceServicesFollowTheirMFunctions) {
  const ZDLLCB& s = Create();
  const auto one = Records({"1"});
  const auto three = Records({"3"});
  const auto value = Record("10");
  ASSERT_EQ(s.writelocal(Record("x").get(), 1, one.data(), value.get()), 0);
  ASSERT_EQ(s.writelocal(Record("x").get(), 1, three.data(), value.get()), 0);
  auto next = std::make_unique<ZVALUE>();
  ASSERT_EQ(s.order_local(Record("x").get(), 1, one.data(), 1, next.get()), 0);
  EXPECT_EQ(Text(next->text), "3");
  ASSERT_EQ(s.order_local(Record("x").get(), 1, three.data(), -1, next.get()), 0);
  EXPECT_EQ(Text(next->text), "1");
  std::int32_t data = -1;
  ASSERT_EQ(s.data_local(Record("x").get(), 0, nullptr, &data), 0);
  EXPECT_EQ(data, 10);
  ASSERT_EQ(s.inc_local(Record("x").get(), 1, one.data(), Record("5").get(), next.get()), 0);
  EXPECT_EQ(Text(next->text), "15");
  ASSERT_EQ(s.inc_global(Record("N").get(), 0, nullptr, Record("2").get(), next.get()), 0);
  EXPECT_EQ(Eval(s, "^N"), "2");
  ASSERT_EQ(s.kill_local(Record("x").get(), 1, one.data()), 0);
  EXPECT_EQ(Eval(s, "$D(x(1))_$D(x(3))"), "01");
  ASSERT_EQ(s.set_test(1), 0);
  EXPECT_EQ(Eval(s, "$T"), "1");
  ASSERT_EQ(s.set_test(0), 0);
  EXPECT_EQ(Eval(s, "$T"), "0");
  EXPECT_NE(s.readlocal(Record("x").get(), 1, one.data(), next.get()), 0);
  EXPECT_EQ(Error(s), "<UNDEFINED> *x(1)");
}

TEST_F(StandInTest, NumbersConvertAsMDoes) {
  const ZDLLCB& s = Create();
  auto value = std::make_unique<ZVALUE>();
  ASSERT_EQ(s.eval(Record("\"12.9abc\"").get(), value.get()), 0);
  std::int32_t small = 0;
  ASSERT_EQ(s.getint32(value.get(), &small), 0);
  EXPECT_EQ(small, 12);
  double real = 0;
  ASSERT_EQ(s.getdouble(value.get(), &real), 0);
  EXPECT_DOUBLE_EQ(real, 12.9);
  ASSERT_EQ(s.setint64(value.get(), -5000000000), 0);
  EXPECT_EQ(Text(value->text), "-5000000000");
  EXPECT_NE(s.getint32(value.get(), &small), 0);
  std::int64_t wide = 0;
  ASSERT_EQ(s.getint64(value.get(), &wide), 0);
  EXPECT_EQ(wide, -5000000000);
  ASSERT_EQ(s.setdouble(value.get(), 0.5), 0);
  EXPECT_EQ(Text(value->text), ".5");
}

TEST_F(StandInTest, ServicesFailWithoutAMachine) {
  const ZDLLCB& s = Create();
  free_();
  auto value = std::make_unique<ZVALUE>();
  EXPECT_NE(s.eval(Record("1").get(), value.get()), 0);
  EXPECT_NE(s.execute(Record("s x=1").get()), 0);
}

}  // namespace
