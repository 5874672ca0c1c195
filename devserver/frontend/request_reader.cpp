#include "request_reader.h"

#include <algorithm>
#include <cstring>

#include "wire_format.h"

namespace devserver {

namespace {

using Status = RequestReader::Status;
using namespace std::string_view_literals;

// Digits of the longest length kMaxFieldLength allows.
constexpr std::size_t kMaxLengthDigits = 7;

// How a request begins: its type field, then the byte that ends the field
// (none for an acknowledgement, whose tag runs on into its identifier).
struct Opening {
  std::string_view type;
  std::string_view end;
  RequestType kind;

  std::size_t size() const { return type.size() + end.size(); }
};

namespace wire = kovra::wire;

constexpr Opening kOpenings[] = {
    {wire::kRequestRead, "\0"sv, RequestType::kRead},
    {wire::kRequestWrite, "\0"sv, RequestType::kWrite},
    {wire::kRequestExecute, "\0"sv, RequestType::kExecute},
    {wire::kRequestExecuteOutput, "\0"sv, RequestType::kExecuteOutput},
    {wire::kRequestKill, "\0"sv, RequestType::kKill},
    {wire::kRequestCallbackAnswer, "\0"sv, RequestType::kCallbackAnswer},
    {wire::kRequestLogin, ":"sv, RequestType::kLogin},
    {wire::kRequestConnect, ":"sv, RequestType::kConnect},
    {wire::kTagCallback, ""sv, RequestType::kMessageAck},
};

// Whether data begins with the whole opening (kComplete), could still grow
// into it (kNeedMore), or cannot (kInvalid).
Status match(std::string_view data, const Opening& opening) {
  const std::string_view type = data.substr(0, opening.type.size());
  if (!opening.type.starts_with(type)) return Status::kInvalid;
  if (type.size() < opening.type.size()) return Status::kNeedMore;
  const std::string_view end = data.substr(type.size(), opening.end.size());
  if (!opening.end.starts_with(end)) return Status::kInvalid;
  return end.size() < opening.end.size() ? Status::kNeedMore : Status::kComplete;
}

bool parseLength(std::string_view digits, std::size_t& out) {
  if (digits.empty() || digits.size() > kMaxLengthDigits) return false;
  std::size_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::size_t>(c - '0');
  }
  if (value > kMaxFieldLength) return false;
  out = value;
  return true;
}

// Walks one request tentatively; nothing is consumed until it is complete.
class RequestScanner {
 public:
  explicit RequestScanner(std::string_view data) : data_(data) {}

  void skip(std::size_t count) { pos_ += count; }
  std::size_t consumed() const { return pos_; }

  // The bytes up to the next NUL (at most maxLength of them); the NUL is
  // consumed too.
  Status field(std::size_t maxLength, std::string_view& out) {
    std::size_t available = data_.size() - pos_;
    std::size_t window = std::min(available, maxLength + 1);
    const char* start = data_.data() + pos_;
    const void* nul = std::memchr(start, '\0', window);
    if (nul == nullptr) return available > maxLength ? Status::kInvalid : Status::kNeedMore;
    std::size_t length = static_cast<std::size_t>(static_cast<const char*>(nul) - start);
    out = data_.substr(pos_, length);
    pos_ += length + 1;
    return Status::kComplete;
  }

  // A decimal length ended by a NUL.
  Status length(std::size_t& out) {
    std::string_view digits;
    Status status = field(kMaxLengthDigits, digits);
    if (status != Status::kComplete) return status;
    return parseLength(digits, out) ? Status::kComplete : Status::kInvalid;
  }

  Status bytes(std::size_t count, std::string& out) {
    if (data_.size() - pos_ < count) return Status::kNeedMore;
    out.assign(data_.substr(pos_, count));
    pos_ += count;
    return Status::kComplete;
  }

  // A length, then that many bytes.
  Status counted(std::string& out) {
    std::size_t count = 0;
    Status status = length(count);
    return status == Status::kComplete ? bytes(count, out) : status;
  }

 private:
  std::string_view data_;
  std::size_t pos_ = 0;
};

// Matches the buffer's start against the known openings.
Status identify(std::string_view data, const Opening*& found) {
  bool couldGrow = false;
  for (const Opening& opening : kOpenings) {
    const Status status = match(data, opening);
    if (status == Status::kComplete) {
      found = &opening;
      return Status::kComplete;
    }
    if (status == Status::kNeedMore) couldGrow = true;
  }
  return couldGrow ? Status::kNeedMore : Status::kInvalid;
}

// "<CALLBACK>" id ":" len NUL result
Status scanMessageAck(RequestScanner& scanner, Request& request) {
  std::string_view header;
  Status status = scanner.field(kMaxHeaderLength, header);
  if (status != Status::kComplete) return status;
  header.remove_prefix(wire::kTagCallback.size());
  std::size_t colon = header.find(':');
  std::size_t count = 0;
  if (colon == std::string_view::npos || !parseLength(header.substr(colon + 1), count)) {
    return Status::kInvalid;
  }
  request.first.assign(header.substr(0, colon));
  return scanner.bytes(count, request.second);
}

// "MR:cr:" namespace ":" len NUL list; the namespace may hold colons, so the
// length is what follows the last one.
Status scanConnect(RequestScanner& scanner, Request& request) {
  std::string_view header;
  Status status = scanner.field(kMaxHeaderLength, header);
  if (status != Status::kComplete) return status;
  std::size_t colon = header.rfind(':');
  std::size_t count = 0;
  if (!parseLength(header.substr(colon + 1), count)) return Status::kInvalid;
  request.first.assign(header);
  return scanner.bytes(count, request.second);
}

Status scan(std::string_view data, Request& request, std::size_t& consumed) {
  const Opening* opening = nullptr;
  Status status = identify(data, opening);
  if (status != Status::kComplete) return status;

  Request parsed;
  parsed.type = opening->kind;
  RequestScanner scanner(data);
  switch (opening->kind) {
    case RequestType::kWrite:
      scanner.skip(opening->size());
      status = scanner.counted(parsed.first);
      if (status == Status::kComplete) status = scanner.counted(parsed.second);
      break;
    case RequestType::kLogin: {
      std::string_view header;
      status = scanner.field(kMaxHeaderLength, header);
      if (status == Status::kComplete) parsed.first.assign(header.substr(opening->size()));
      break;
    }
    case RequestType::kMessageAck:
      status = scanMessageAck(scanner, parsed);
      break;
    case RequestType::kConnect:
      status = scanConnect(scanner, parsed);
      break;
    default:
      scanner.skip(opening->size());
      status = scanner.counted(parsed.first);
      break;
  }
  if (status == Status::kComplete) {
    request = std::move(parsed);
    consumed = scanner.consumed();
  }
  return status;
}

}  // namespace

void RequestReader::feed(std::string_view bytes) { buffer_.append(bytes); }

RequestReader::Status RequestReader::next(Request& request) {
  if (invalid_) return Status::kInvalid;
  if (buffer_.empty()) return Status::kNeedMore;
  std::size_t consumed = 0;
  Status status = scan(buffer_, request, consumed);
  if (status == Status::kInvalid) invalid_ = true;
  if (status == Status::kComplete) buffer_.erase(0, consumed);
  return status;
}

}  // namespace devserver
