#include "journal_record.h"

#include <cstdint>

namespace devserver {

namespace {

constexpr std::size_t kWordSize = 4;

void putWord(std::string& out, std::uint32_t word) {
  for (std::size_t i = 0; i < kWordSize; ++i) {
    out.push_back(static_cast<char>((word >> (8 * i)) & 0xff));
  }
}

void putText(std::string& out, std::string_view text) {
  putWord(out, static_cast<std::uint32_t>(text.size()));
  out.append(text);
}

std::uint32_t checksum(char kind, std::string_view payload) {
  std::uint32_t hash = 2166136261u;
  auto mix = [&hash](char c) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  };
  mix(kind);
  for (char c : payload) mix(c);
  return hash;
}

// Reads fields out of a payload; every read is checked against its end.
class PayloadReader {
 public:
  explicit PayloadReader(std::string_view data) : data_(data) {}

  bool word(std::uint32_t& out) {
    if (data_.size() - pos_ < kWordSize) return false;
    out = 0;
    for (std::size_t i = 0; i < kWordSize; ++i) {
      out |= static_cast<std::uint32_t>(static_cast<unsigned char>(data_[pos_ + i])) << (8 * i);
    }
    pos_ += kWordSize;
    return true;
  }

  bool text(std::string& out) {
    std::uint32_t length = 0;
    if (!word(length) || data_.size() - pos_ < length) return false;
    out.assign(data_.substr(pos_, length));
    pos_ += length;
    return true;
  }

  bool atEnd() const { return pos_ == data_.size(); }

 private:
  std::string_view data_;
  std::size_t pos_ = 0;
};

bool decodePayload(std::string_view payload, JournalRecord& record) {
  PayloadReader reader(payload);
  std::uint32_t count = 0;
  if (!reader.text(record.global) || !reader.word(count)) return false;
  // Every subscript takes at least its length word, which bounds the count
  // before anything is allocated for it.
  if (count > payload.size() / kWordSize) return false;
  record.subscripts.assign(count, std::string());
  for (std::string& subscript : record.subscripts) {
    if (!reader.text(subscript)) return false;
  }
  record.value.clear();
  if (record.kind == JournalRecord::Kind::kSet && !reader.text(record.value)) return false;
  return reader.atEnd();
}

}  // namespace

std::string encodeRecord(const JournalRecord& record) {
  std::string payload;
  putText(payload, record.global);
  putWord(payload, static_cast<std::uint32_t>(record.subscripts.size()));
  for (const std::string& subscript : record.subscripts) putText(payload, subscript);
  if (record.kind == JournalRecord::Kind::kSet) putText(payload, record.value);

  std::string out;
  out.reserve(1 + 2 * kWordSize + payload.size());
  out.push_back(static_cast<char>(record.kind));
  putWord(out, static_cast<std::uint32_t>(payload.size()));
  out += payload;
  putWord(out, checksum(static_cast<char>(record.kind), payload));
  return out;
}

bool decodeRecord(std::string_view data, std::size_t& pos, JournalRecord& record) {
  if (pos >= data.size()) return false;
  std::string_view rest = data.substr(pos);
  char kind = rest[0];
  if (kind != static_cast<char>(JournalRecord::Kind::kSet) &&
      kind != static_cast<char>(JournalRecord::Kind::kKill)) {
    return false;
  }
  PayloadReader header(rest.substr(1));
  std::uint32_t length = 0;
  if (!header.word(length)) return false;
  std::size_t total = 1 + kWordSize + std::size_t{length} + kWordSize;
  if (rest.size() < total) return false;
  std::string_view payload = rest.substr(1 + kWordSize, length);
  PayloadReader trailer(rest.substr(1 + kWordSize + length, kWordSize));
  std::uint32_t stored = 0;
  if (!trailer.word(stored) || stored != checksum(kind, payload)) return false;
  JournalRecord decoded;
  decoded.kind = static_cast<JournalRecord::Kind>(kind);
  if (!decodePayload(payload, decoded)) return false;
  record = std::move(decoded);
  pos += total;
  return true;
}

}  // namespace devserver
