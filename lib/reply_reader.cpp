#include "reply_reader.h"

#include <cstring>
#include <limits>

#include "wire_format.h"

namespace kovra {

static_assert(TReplyReader::kCapacity == wire::kReceiveBufferSize);

TReplyReader::TReplyReader() : buffer_(std::make_unique<char[]>(kCapacity + 1)) {}

TParseResult TReplyReader::ParseBuffer(std::string& reply) {
  const char* data = buffer_.get() + begin_;
  const std::size_t fill = FillCount();
  if (state_ == wsCommand) {
    const void* nul = std::memchr(data + scanned_, 0, fill - scanned_);
    if (nul == nullptr) {
      scanned_ = fill;
      return fill >= kCapacity ? TParseResult::prNeverFits : TParseResult::prNeedMore;
    }
    const std::size_t n = static_cast<const char*>(nul) - data;
    const std::string_view header(data, n);
    const std::string_view tag = TagOf(header);
    if (tag != wire::kTagGoOn && tag != wire::kTagCallback) {
      reply.assign(data, n + 1);
      Consume(n + 1);
      return TParseResult::prComplete;
    }
    headerLength_ = n;
    expected_ = AnnouncedLength(header);
    state_ = wsLength;
  }
  // A body announced beyond the buffer can never arrive whole: this is caught
  // before waiting for it, so the client never waits forever on such a reply.
  if (expected_ > kCapacity) return TParseResult::prNeverFits;
  if (header_.empty() && headerLength_ + 1 + expected_ > kCapacity) {
    // The body fits only once the header is out of the way: keep the header
    // aside and give the whole buffer to the body.
    header_.assign(data, headerLength_ + 1);
    begin_ += headerLength_ + 1;
    return ParseBuffer(reply);
  }
  const std::size_t total = (header_.empty() ? headerLength_ + 1 : 0) + expected_;
  if (fill < total) return TParseResult::prNeedMore;
  if (!header_.empty()) {
    reply.reserve(header_.size() + expected_);
    reply.assign(header_);
    reply.append(data, expected_);
  } else {
    reply.assign(data, total);
  }
  Consume(total);
  return TParseResult::prComplete;
}

std::span<char> TReplyReader::FreeSpace() {
  if (begin_ > 0) {
    const std::size_t fill = FillCount();
    std::memmove(buffer_.get(), buffer_.get() + begin_, fill);
    begin_ = 0;
    end_ = fill;
  }
  return {buffer_.get() + end_, kCapacity - end_};
}

void TReplyReader::Commit(std::size_t n) {
  end_ += n;
  buffer_[end_] = '\0';
}

std::size_t TReplyReader::Feed(std::string_view bytes) {
  const std::span<char> space = FreeSpace();
  const std::size_t n = std::min(space.size(), bytes.size());
  if (n > 0) std::memcpy(space.data(), bytes.data(), n);
  Commit(n);
  return n;
}

std::string_view TReplyReader::Pending() const {
  return {buffer_.get() + begin_, FillCount()};
}

void TReplyReader::Consume(std::size_t n) {
  begin_ += std::min(n, FillCount());
  if (begin_ == end_) begin_ = end_ = 0;
  buffer_[end_] = '\0';
  scanned_ = 0;
  state_ = wsCommand;
  headerLength_ = 0;
  expected_ = 0;
  header_.clear();
}

void TReplyReader::Clear() { Consume(FillCount()); }

std::string_view TReplyReader::TagOf(std::string_view reply) {
  const std::size_t open = reply.find('<');
  if (open == std::string_view::npos) return {};
  const std::size_t close = reply.find('>', open);
  if (close == std::string_view::npos) return {};
  return reply.substr(open, close - open + 1);
}

std::size_t TReplyReader::AnnouncedLength(std::string_view header) {
  const std::size_t nul = header.find('\0');
  if (nul != std::string_view::npos) header = header.substr(0, nul);
  const std::size_t close = header.find('>');
  if (close == std::string_view::npos) return 0;
  const std::size_t colon = header.find(':', close);
  if (colon == std::string_view::npos) return 0;
  const std::string_view digits = header.substr(colon + 1);
  if (digits.empty()) return 0;
  std::size_t value = 0;
  constexpr std::size_t kLimit = std::numeric_limits<std::size_t>::max() / 10 - 9;
  for (const char c : digits) {
    if (c < '0' || c > '9' || value > kLimit) return 0;
    value = value * 10 + static_cast<std::size_t>(c - '0');
  }
  return value;
}

}  // namespace kovra
