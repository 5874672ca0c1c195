#include "export_report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kvrexport {
namespace {

void startReport() { std::fflush(stdout); }

void reportSymbolicLink(const std::string& path) {
  startReport();
  std::fprintf(stderr, "Refused to write through the symbolic link '%s'.\n", path.c_str());
}

}  // namespace

void reportNothingSelected(std::string_view mask) {
  startReport();
  std::fprintf(stderr, "Mask %.*s selects no routine to export.\n", static_cast<int>(mask.size()), mask.data());
}

void reportWriteFailure(const std::string& path, int error) {
  startReport();
  std::fprintf(stderr, "Failed to write file '%s': %s.\n", path.c_str(), std::strerror(error));
}

void reportOpenFailure(const std::string& path) {
  startReport();
  std::fprintf(stderr, "Failed to open file '%s' to write.\n", path.c_str());
}

bool reportRefusedTarget(const std::string& path, int error) {
  if (error != ELOOP) return false;
  reportSymbolicLink(path);
  return true;
}

}  // namespace kvrexport
