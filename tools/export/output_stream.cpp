#include "output_stream.h"

#include <cerrno>

namespace kvrexport {

void OutputStream::noteFailure() {
  // A stream can fail without errno set (a short write that the C library
  // does not explain): it is an input/output error then.
  if (error_ == 0) error_ = errno != 0 ? errno : EIO;
}

void OutputStream::write(std::string_view text) {
  if (text.empty()) return;
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) noteFailure();
}

bool OutputStream::flush() {
  errno = 0;
  if (std::fflush(file_) != 0 || std::ferror(file_)) noteFailure();
  return error_ == 0;
}

}  // namespace kvrexport
