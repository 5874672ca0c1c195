// Replacing a file only by a complete new version: the new text goes into a
// temporary file beside the target, and only commit() renames it into the
// target's place. Until then, and whenever the replacement fails, the target
// stays exactly as it was, and the temporary file is removed.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace kvrtools {

// Removes the temporary file of a replacement in progress when the program
// ends: at exit() and at SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE (which
// then end the program as they would have). Signals that are ignored stay
// ignored. Call once, before the first replacement.
void removeTemporaryFilesOnExit();

// One replacement at a time per process (the exit clean-up knows one).
class FileReplacement {
 public:
  // Creates the temporary file in the target's folder; see isOpen().
  explicit FileReplacement(std::string target);
  ~FileReplacement();  // abandons an uncommitted replacement
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // False when the temporary file could not be created.
  bool isOpen() const { return file_ != nullptr; }

  // Appends to the new version; a failure shows in commit().
  void write(std::string_view piece);

  // Closes the new version, sets its time from a routine date (left alone
  // when the date is not one) and renames it over the target, which keeps
  // the permissions the target had. False when any step failed: the target
  // is untouched and the temporary file gone.
  bool commit(std::string_view date);

  // Drops the new version; the target is untouched.
  void abandon();

 private:
  std::string target_;
  std::string temporary_;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
};

}  // namespace kvrtools
