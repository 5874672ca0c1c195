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

constexpr char kTransaction = 'T';

// Appends a record of kind to out, its payload written in place by fill, so
// that no payload is built apart and copied behind its header.
template <typename Fill>
void appendFrame(std::string& out, char kind, Fill fill) {
  std::size_t start = out.size();
  out.push_back(kind);
  putWord(out, 0);  // the length, set once the payload is written
  std::size_t body = out.size();
  fill(out);
  std::size_t length = out.size() - body;
  for (std::size_t i = 0; i < kWordSize; ++i) {
    out[start + 1 + i] = static_cast<char>((length >> (8 * i)) & 0xff);
  }
  putWord(out, checksum(kind, std::string_view(out).substr(body, length)));
}

// The frame that starts at pos when it is whole and its checksum holds:
// its kind, its payload and its size in bytes.
struct Frame {
  char kind = 0;
  std::string_view payload;
  std::size_t size = 0;
};

bool readFrame(std::string_view data, std::size_t pos, Frame& out) {
  if (pos >= data.size()) return false;
  std::string_view rest = data.substr(pos);
  PayloadReader header(rest.substr(1));
  std::uint32_t length = 0;
  if (!header.word(length)) return false;
  std::size_t total = 1 + kWordSize + std::size_t{length} + kWordSize;
  if (rest.size() < total) return false;
  std::string_view payload = rest.substr(1 + kWordSize, length);
  PayloadReader trailer(rest.substr(1 + kWordSize + length, kWordSize));
  std::uint32_t stored = 0;
  if (!trailer.word(stored) || stored != checksum(rest[0], payload)) return false;
  out = {rest[0], payload, total};
  return true;
}

bool isChangeKind(char kind) {
  return kind == static_cast<char>(JournalRecord::Kind::kSet) ||
         kind == static_cast<char>(JournalRecord::Kind::kKill);
}

// The set or kill a frame holds; false for a frame of any other kind.
bool decodeChange(const Frame& frame, JournalRecord& record) {
  if (!isChangeKind(frame.kind)) return false;
  record.kind = static_cast<JournalRecord::Kind>(frame.kind);
  return decodePayload(frame.payload, record);
}

}  // namespace

void appendChange(std::string& out, JournalRecord::Kind kind, std::string_view global,
                  const mengine::Subscripts& subscripts, std::string_view value) {
  appendFrame(out, static_cast<char>(kind), [&](std::string& payload) {
    putText(payload, global);
    putWord(payload, static_cast<std::uint32_t>(subscripts.size()));
    for (const std::string& subscript : subscripts) putText(payload, subscript);
    if (kind == JournalRecord::Kind::kSet) putText(payload, value);
  });
}

bool decodeRecord(std::string_view data, std::size_t& pos, JournalRecord& record) {
  Frame found;
  if (!readFrame(data, pos, found)) return false;
  JournalRecord decoded;
  if (!decodeChange(found, decoded)) return false;
  record = std::move(decoded);
  pos += found.size;
  return true;
}

std::string encodeTransaction(const std::vector<mengine::JournalSink::Change>& changes) {
  std::string out;
  appendFrame(out, kTransaction, [&](std::string& payload) {
    for (const auto& c : changes) {
      appendChange(payload, c.kill ? JournalRecord::Kind::kKill : JournalRecord::Kind::kSet,
                   c.global, c.subscripts, c.value);
    }
  });
  return out;
}

bool decodeEntry(std::string_view data, std::size_t& pos, std::vector<JournalRecord>& records) {
  Frame found;
  if (!readFrame(data, pos, found)) return false;
  std::vector<JournalRecord> decoded(1);
  if (isChangeKind(found.kind)) {
    if (!decodeChange(found, decoded.front())) return false;
  } else if (found.kind == kTransaction) {
    decoded.clear();
    for (std::size_t at = 0; at < found.payload.size();) {
      if (!decodeRecord(found.payload, at, decoded.emplace_back())) return false;
    }
  } else {
    return false;
  }
  records = std::move(decoded);
  pos += found.size;
  return true;
}

}  // namespace devserver
