#include "request_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace devserver {
namespace {

using namespace std::string_literals;
using Status = RequestReader::Status;

class RequestReaderTest : public ::testing::Test {
 protected:
  // Feeds the bytes whole and takes every complete request.
  std::vector<Request> readAll(const std::string& bytes) {
    reader_.feed(bytes);
    return drain();
  }

  // Feeds one byte at a time, taking requests as they complete.
  std::vector<Request> readByteByByte(const std::string& bytes) {
    std::vector<Request> requests;
    for (char c : bytes) {
      reader_.feed(std::string(1, c));
      for (Request& request : drain()) requests.push_back(request);
    }
    return requests;
  }

  Status statusAfter(const std::string& bytes) {
    reader_.feed(bytes);
    Request request;
    return reader_.next(request);
  }

  std::vector<Request> drain() {
    std::vector<Request> requests;
    Request request;
    Status status;
    while ((status = reader_.next(request)) == Status::kComplete) requests.push_back(request);
    last_ = status;
    return requests;
  }

  RequestReader reader_;
  Status last_ = Status::kNeedMore;
};

struct Form {
  std::string bytes;
  RequestType type;
  std::string first;
  std::string second;
};

const std::vector<Form>& everyForm() {
  static const std::vector<Form> forms = {
      {"r\0" "5\0" "$j(1)"s, RequestType::kRead, "$j(1)", ""},
      {"w\0" "1\0" "a" "1\0" "b"s, RequestType::kWrite, "a", "b"},
      {"x\0" "5\0" "s a=1"s, RequestType::kExecute, "s a=1", ""},
      {"t\0" "3\0" "w 1"s, RequestType::kExecuteOutput, "w 1", ""},
      {"k\0" "2\0" "^g"s, RequestType::kKill, "^g", ""},
      {"c\0" "2\0" "OK"s, RequestType::kCallbackAnswer, "OK", ""},
      {"c\0" "0\0"s, RequestType::kCallbackAnswer, "", ""},
      {"lg:17\0"s, RequestType::kLogin, "17", ""},
      {"lg:\0"s, RequestType::kLogin, "", ""},
      {"<CALLBACK>12:0\0"s, RequestType::kMessageAck, "12", ""},
      {"<CALLBACK>3:2\0ab"s, RequestType::kMessageAck, "3", "ab"},
      {"MR:cr:USER:3\0xyz"s, RequestType::kConnect, "MR:cr:USER:3", "xyz"},
  };
  return forms;
}

TEST_F(RequestReaderTest, EveryRequestFormIsRecognised) {
  for (const Form& form : everyForm()) {
    RequestReader fresh;
    reader_ = fresh;
    std::vector<Request> requests = readAll(form.bytes);
    ASSERT_EQ(requests.size(), 1u) << form.first;
    EXPECT_EQ(requests[0].type, form.type) << form.first;
    EXPECT_EQ(requests[0].first, form.first);
    EXPECT_EQ(requests[0].second, form.second);
    EXPECT_EQ(reader_.buffered(), 0u);
  }
}

TEST_F(RequestReaderTest, OneByteAtATimeGivesTheSameRequests) {
  std::string all;
  for (const Form& form : everyForm()) all += form.bytes;
  std::vector<Request> requests = readByteByByte(all);
  ASSERT_EQ(requests.size(), everyForm().size());
  for (std::size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].type, everyForm()[i].type);
    EXPECT_EQ(requests[i].first, everyForm()[i].first);
    EXPECT_EQ(requests[i].second, everyForm()[i].second);
  }
  EXPECT_EQ(last_, Status::kNeedMore);
}

TEST_F(RequestReaderTest, FieldsMayHoldNulBytes) {
  std::vector<Request> requests = readAll("w\0" "3\0" "a\0b" "2\0" "\0\0"s);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].first, "a\0b"s);
  EXPECT_EQ(requests[0].second, "\0\0"s);
}

TEST_F(RequestReaderTest, SeveralRequestsInOneReadComeOutInOrder) {
  std::vector<Request> requests = readAll("x\0" "1\0" "a" "r\0" "1\0" "b" "k\0" "1"s);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].type, RequestType::kExecute);
  EXPECT_EQ(requests[1].type, RequestType::kRead);
  EXPECT_EQ(last_, Status::kNeedMore);
  EXPECT_EQ(reader_.buffered(), 3u);  // the start of the kill stays buffered
}

TEST_F(RequestReaderTest, MalformedRequestsAreInvalidBeforeAnyBodyIsAwaited) {
  const std::string malformed[] = {
      "q"s,                                               // unknown type
      "xx"s,                                              // type without its NUL
      "x\0" "1a\0" "b"s,                                 // non-numeric length
      "x\0" "\0"s,                                        // empty length
      "r\0" "-1\0"s,                                      // signed length
      "x\0" "99999999\0"s,                                // too many digits
      "x\0"s + std::to_string(kMaxFieldLength + 1) + "\0"s,  // beyond the bound
      "x\0" "12345678"s,                                  // digits that never end
      "lg:" + std::string(kMaxHeaderLength, '7'),         // header that never ends
      "<CALLBACK>5\0"s,                                   // acknowledgement without length
  };
  for (const std::string& bytes : malformed) {
    RequestReader fresh;
    reader_ = fresh;
    EXPECT_EQ(statusAfter(bytes), Status::kInvalid) << bytes;
  }
}

TEST_F(RequestReaderTest, PartialRequestWaitsForMore) {
  EXPECT_EQ(statusAfter("<CALL"), Status::kNeedMore);
  EXPECT_EQ(statusAfter("BACK>1:3\0ab"s), Status::kNeedMore);
  EXPECT_EQ(statusAfter("c"), Status::kComplete);
}

TEST_F(RequestReaderTest, InvalidIsStickyEvenWhenValidBytesFollow) {
  EXPECT_EQ(statusAfter("?"), Status::kInvalid);
  EXPECT_EQ(statusAfter("x\0" "1\0" "a"s), Status::kInvalid);
}

}  // namespace
}  // namespace devserver
