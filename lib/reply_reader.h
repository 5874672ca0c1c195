// TReplyReader: the framing of server replies, apart from any I/O. The socket
// code reads into FreeSpace() and calls Commit(); ParseBuffer() then answers
// whether one whole reply is there. The same reader serves the tests, which
// feed bytes in any segmentation without a socket.
//
// A reply is a header without NUL, one NUL, and for the length-carrying tags
// ("<GO ON>", "<CALLBACK>") the announced number of body bytes, up to the
// whole buffer (kCapacity): a header that leaves too little room for its body
// is kept aside and the body gets the buffer to itself. Otherwise nothing is
// consumed until the whole reply is buffered; the scan for the NUL resumes
// where the previous call stopped.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace kovra {

enum TWaitState { wsCommand = 0, wsLength = 1, wsTerminal = 2 };

enum class TParseResult {
  prComplete,    // one reply moved into the caller's text
  prNeedMore,    // read more bytes and ask again
  prNeverFits,   // the reply can never complete in the buffer: a protocol error
};

class TReplyReader {
 public:
  static constexpr std::size_t kCapacity = 32768;

  TReplyReader();

  // On prComplete, replaces reply with the stored form of the first buffered
  // reply (header, NUL, body) and removes it from the buffer.
  TParseResult ParseBuffer(std::string& reply);

  // Room behind the buffered bytes for the next read (moves the buffered bytes
  // to the front first). Empty only when the buffer is full.
  std::span<char> FreeSpace();
  // Adds n bytes just written into FreeSpace() to the buffered data.
  void Commit(std::size_t n);
  // Copies as much of bytes as fits; returns how many were taken.
  std::size_t Feed(std::string_view bytes);

  // Buffered bytes not yet consumed, and removal from their front (for the
  // raw output stream of a "t" request, which is not framed). The view points
  // into the buffer: it is valid only until the next call of any member that
  // is not const (FreeSpace, Feed and Commit move the bytes; ParseBuffer,
  // Consume and Clear remove them), so take what is needed from it first.
  std::string_view Pending() const;
  void Consume(std::size_t n);
  void Clear();

  std::size_t FillCount() const { return end_ - begin_; }

  // The tag of a stored reply or a header: from its first '<' to the first
  // '>', both included; empty when there is no such pair.
  static std::string_view TagOf(std::string_view reply);
  // The body length a header announces: the decimal text after the first ':'
  // behind the first '>', to the header's end; 0 when that is not a valid
  // unsigned decimal number.
  static std::size_t AnnouncedLength(std::string_view header);

 private:
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::size_t scanned_ = 0;     // bytes from begin_ known to hold no NUL
  TWaitState state_ = wsCommand;
  std::size_t headerLength_ = 0;  // in wsLength: header bytes before the NUL
  std::size_t expected_ = 0;      // in wsLength: announced body length
  // In wsLength: the header and its NUL once moved out of the buffer for a
  // body that needs all of it; empty while the header is still buffered.
  std::string header_;
};

}  // namespace kovra
