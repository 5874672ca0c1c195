// The four list and text functions, reached the way client programs reach
// them: by name from the built shared library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "kovrasc.h"

namespace {

struct DlCloser {
  void operator()(void* handle) const { dlclose(handle); }
};
using Library = std::unique_ptr<void, DlCloser>;

class ListFunctions : public ::testing::Test {
 protected:
  void SetUp() override {
    library_.reset(dlopen(KOVRASC_LIBRARY_PATH, RTLD_LAZY | RTLD_LOCAL));
    ASSERT_NE(library_, nullptr) << dlerror();
    length_ = Bind<kvrlistlength_t>("KVRListLength");
    get_ = Bind<kvrlistget_t>("KVRListGet");
    set_ = Bind<kvrlistset_t>("KVRListSet");
    text_ = Bind<kvrtext_t>("KVRText");
  }

  template <typename F>
  F Bind(const char* name) {
    void* symbol = dlsym(library_.get(), name);
    EXPECT_NE(symbol, nullptr) << name;
    return reinterpret_cast<F>(symbol);
  }

  // Records are large; keep them on the heap.
  static std::unique_ptr<KOVRA_STR> Record(const std::string& text) {
    auto record = std::make_unique<KOVRA_STR>();
    record->len = static_cast<uint16_t>(text.size());
    std::memcpy(record->str, text.data(), text.size());
    return record;
  }
  static std::string Text(const KOVRA_STR& record) { return std::string(record.str, record.len); }

  Library library_;
  kvrlistlength_t length_ = nullptr;
  kvrlistget_t get_ = nullptr;
  kvrlistset_t set_ = nullptr;
  kvrtext_t text_ = nullptr;
};

TEST_F(ListFunctions, SetElementThreeThenReadEveryElement) {
  auto list = Record("");
  auto value = Record("12");
  ASSERT_EQ(set_(list.get(), 3, value.get()), 1);
  EXPECT_EQ(Text(*list), std::string("\x01\x01\x03\x04\x0c", 5));
  EXPECT_EQ(length_(list.get()), 3);

  auto item = Record("stale");
  EXPECT_EQ(get_(list.get(), 1, item.get()), 1);
  EXPECT_EQ(Text(*item), "");
  EXPECT_EQ(get_(list.get(), 3, item.get()), 1);
  EXPECT_EQ(Text(*item), "12");
  item = Record("stale");
  EXPECT_EQ(get_(list.get(), 4, item.get()), 1);
  EXPECT_EQ(Text(*item), "");
}

TEST_F(ListFunctions, IndexBelowOneFailsAndLeavesTheListAlone) {
  auto list = Record("\x03\x04\x0c");
  auto value = Record("x");
  auto item = Record("untouched");
  EXPECT_EQ(get_(list.get(), 0, item.get()), 0);
  EXPECT_EQ(get_(list.get(), -5, item.get()), 0);
  EXPECT_EQ(set_(list.get(), 0, value.get()), 0);
  EXPECT_EQ(set_(list.get(), -2147483647 - 1, value.get()), 0);
  EXPECT_EQ(Text(*list), "\x03\x04\x0c");
}

TEST_F(ListFunctions, MalformedAndOneByteListsHaveNoElements) {
  auto one = Record("\x01");
  EXPECT_EQ(length_(one.get()), 0);
  auto malformed = Record("\x03\x04\x0c\x09\x01");
  EXPECT_EQ(length_(malformed.get()), 0);
  auto item = Record("x");
  EXPECT_EQ(get_(malformed.get(), 1, item.get()), 1);
  EXPECT_EQ(Text(*item), "");
  auto value = Record("v");
  EXPECT_EQ(set_(malformed.get(), 1, value.get()), 0);
  EXPECT_EQ(Text(*malformed), "\x03\x04\x0c\x09\x01");
}

// A list that would not fit a record is refused, the buffer unchanged.
TEST_F(ListFunctions, SetRefusesAListThatWouldNotFitTheRecord) {
  auto list = Record("");
  auto big = Record(std::string(32764, 'b'));
  ASSERT_EQ(set_(list.get(), 1, big.get()), 1);
  EXPECT_EQ(list->len, 32768);
  auto one = Record("1");
  EXPECT_EQ(set_(list.get(), 2, one.get()), 0);
  EXPECT_EQ(list->len, 32768);
  EXPECT_EQ(Text(*list).substr(0, 4), std::string("\x00\xfd\x7f\x01", 4));

  auto empty = Record("");
  EXPECT_EQ(set_(empty.get(), 40000, one.get()), 0);
  EXPECT_EQ(empty->len, 0);
}

TEST_F(ListFunctions, RecordsThatCannotBeReadAreRefused) {
  auto list = Record("\x03\x04\x0c");
  list->len = 40000;  // more than the record holds
  auto item = Record("untouched");
  auto value = Record("1");
  EXPECT_EQ(length_(list.get()), 0);
  EXPECT_EQ(get_(list.get(), 1, item.get()), 0);
  EXPECT_EQ(set_(list.get(), 1, value.get()), 0);
  EXPECT_EQ(text_(list.get(), item.get()), 0);
  EXPECT_EQ(Text(*item), "untouched");
  EXPECT_EQ(length_(nullptr), 0);
  EXPECT_EQ(get_(nullptr, 1, item.get()), 0);
  EXPECT_EQ(set_(nullptr, 1, value.get()), 0);
  EXPECT_EQ(text_(nullptr, item.get()), 0);
  EXPECT_EQ(text_(value.get(), nullptr), 0);
}

TEST_F(ListFunctions, TextQuotesAndRefusesLiteralsThatReach32768Bytes) {
  auto in = Record("");
  auto out = Record("untouched");
  ASSERT_EQ(text_(in.get(), out.get()), 1);
  EXPECT_EQ(Text(*out), "\"\"");

  in = Record("z\r\n");
  ASSERT_EQ(text_(in.get(), out.get()), 1);
  EXPECT_EQ(Text(*out), "\"z\"_$C(13,10)");

  // 32765 plain bytes quote to 32767 bytes; one more reaches 32768.
  in = Record(std::string(32765, 'p'));
  ASSERT_EQ(text_(in.get(), out.get()), 1);
  EXPECT_EQ(out->len, 32767);
  out = Record("untouched");
  in = Record(std::string(32766, 'p'));
  EXPECT_EQ(text_(in.get(), out.get()), 0);
  EXPECT_TRUE(Text(*out) == "untouched");
  // n line feeds quote to "$C(" + (n - 1) x "10," + "10)": 3n + 3 bytes.
  in = Record(std::string(10922, '\n'));
  EXPECT_EQ(text_(in.get(), out.get()), 0);
  EXPECT_TRUE(Text(*out) == "untouched");
  in = Record(std::string(10921, '\n'));
  ASSERT_EQ(text_(in.get(), out.get()), 1);
  EXPECT_EQ(out->len, 32766);
}

TEST_F(ListFunctions, TheSameRecordMayBeInputAndOutput) {
  auto record = Record("a\"b");
  ASSERT_EQ(text_(record.get(), record.get()), 1);
  EXPECT_EQ(Text(*record), "\"a\"\"b\"");

  auto list = Record("\x03\x01x\x03\x01y");
  ASSERT_EQ(get_(list.get(), 2, list.get()), 1);
  EXPECT_EQ(Text(*list), "y");
}

}  // namespace
