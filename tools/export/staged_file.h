// An output file that is written under a temporary name in its target's
// directory and renamed over the target only when it is complete, so a run
// that fails midway leaves any existing file exactly as it was.
//
// The temporary file never outlives the process: it is removed when the
// object goes without commit, when the process ends through exit() (the
// framework's exit on a lost connection), and on SIGINT, SIGTERM, SIGHUP,
// SIGQUIT and SIGPIPE (signals the process ignores stay ignored).
// One staged file at a time per process.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "output_stream.h"

namespace kvrexport {

class StagedFile {
 public:
  // Nothing, with errno set, when the target cannot be written: it is a
  // directory, an existing file that cannot be opened for writing, or its
  // directory does not exist or is not writable. A target that is a
  // symbolic link is never written through (errno ELOOP): a link planted
  // under a routine's file name must not redirect an export elsewhere. A
  // target that exists but is not a regular file (a device, a pipe) is
  // written directly, without staging. A replaced file keeps its
  // permissions, and its owner and group as far as the user may set them.
  static std::unique_ptr<StagedFile> create(const std::string& target);
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  OutputStream& stream() { return stream_; }

  // Flushes what was written and dates the file with a routine timestamp
  // (see setFileTimestamp); the date survives commit.
  void setTimestamp(std::string_view timestamp);

  // Closes the file and renames it over the target. False, with the
  // temporary file removed and errno the reason of the first failure, when
  // writing or renaming failed.
  bool commit();

 private:
  StagedFile(std::string target, std::string staging, std::FILE* stream);
  void discard();
  // The path the content is being written to right now.
  const std::string& writtenPath() const { return staging_.empty() ? target_ : staging_; }

  std::string target_;
  std::string staging_;  // empty when the target is written directly
  OutputStream stream_;
  bool open_ = true;
};

}  // namespace kvrexport
