// Where an export writes its text: a stdio stream that keeps the reason its
// first write failed. A failure is only noticed when the file is finished,
// and by then the network calls in between have long overwritten errno, so
// the reason (a full disk, say) would otherwise be lost.
#pragma once

#include <cstdio>
#include <string_view>

namespace kvrexport {

class OutputStream {
 public:
  explicit OutputStream(std::FILE* file) : file_(file) {}

  // Appends text; a failure is kept, and later writes still try.
  void write(std::string_view text);

  // Writes out what is buffered; false when this or any write before failed.
  bool flush();

  // The errno of the first failure, 0 while there was none.
  int error() const { return error_; }

  std::FILE* file() const { return file_; }

 private:
  void noteFailure();

  std::FILE* file_;
  int error_ = 0;
};

}  // namespace kvrexport
