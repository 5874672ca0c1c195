#include "library_location.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>

namespace kvrtools {
namespace {

bool isFile(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// Empty when only the user or root can have written path (following links);
// otherwise why not, with what naming it.
std::string unsafeBecause(const std::string& path, const std::string& what) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return what + " cannot be examined";
  if (status.st_uid != ::geteuid() && status.st_uid != 0) return what + " belongs to another user";
  if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) return what + " is writable by group or others";
  return {};
}

std::string parentOf(const std::string& path) { return std::filesystem::path(path).parent_path().string(); }

}  // namespace

std::string programFolder() {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return {};
  return parentOf(std::string(buffer, static_cast<std::size_t>(length)));
}

LibraryChoice chooseLibrary(const std::string& programFolder, const std::string& libraryFolder,
                            const std::string& currentFolder) {
  std::string installedFolder;
  if (!programFolder.empty()) {
    const std::string beside = programFolder + "/" + kLibraryName;
    if (isFile(beside)) return {beside, beside, {}};
    const std::filesystem::path folder = libraryFolder.starts_with('/')
                                             ? std::filesystem::path(libraryFolder)
                                             : std::filesystem::path(programFolder) / libraryFolder;
    installedFolder = folder.lexically_normal().string();
    if (!installedFolder.empty() && installedFolder.back() == '/') installedFolder.pop_back();
    const std::string installed = installedFolder + "/" + kLibraryName;
    if (isFile(installed)) return {installed, installed, {}};
  }

  const std::string local = currentFolder + "/" + kLibraryName;
  const std::string shown = std::string("./") + kLibraryName;
  if (!isFile(local)) {
    std::string places = programFolder.empty() ? std::string() : programFolder + ", " + installedFolder + " or ";
    return {{}, shown, std::string(kLibraryName) + " is not in " + places + "the current folder"};
  }
  std::string refusal = unsafeBecause(currentFolder, "the current folder");
  if (refusal.empty()) refusal = unsafeBecause(local, shown);
  char resolved[PATH_MAX];
  if (refusal.empty() && ::realpath(local.c_str(), resolved) == nullptr) refusal = shown + " cannot be resolved";
  // A link: its target and the folder that holds it must be as safe.
  if (refusal.empty()) refusal = unsafeBecause(parentOf(resolved), std::string("the folder of ") + resolved);
  if (!refusal.empty()) return {{}, shown, "refused " + shown + ": " + refusal};
  return {resolved, shown, {}};
}

}  // namespace kvrtools
