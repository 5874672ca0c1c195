#include "full_disk.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kvrtest {
namespace {

constexpr std::size_t kRoomForTools = 4 * 1024 * 1024;  // beside the library

std::optional<std::string> fill(const std::string& path, std::size_t freeBytes) {
  struct statvfs info {};
  if (statvfs(path.c_str(), &info) != 0) return std::string("statvfs: ") + std::strerror(errno);
  const std::size_t available = static_cast<std::size_t>(info.f_bavail) * info.f_frsize;
  if (available <= freeBytes) return std::nullopt;
  std::ofstream filler(path + "/filler", std::ios::binary);
  const std::string block(available - freeBytes, '\0');
  filler.write(block.data(), static_cast<std::streamsize>(block.size()));
  filler.close();
  if (!filler) return std::string("the filler could not be written");
  return std::nullopt;
}

}  // namespace

FullDisk::FullDisk(const TempDir& dir, const std::string& path, std::size_t freeBytes) : path_(path) {
  mkdir(path.c_str(), 0700);
  const std::size_t size = std::filesystem::file_size(dir.file("libkovrasc.so")) + kRoomForTools;
  const std::string options = "size=" + std::to_string(size) + ",mode=0700";
  if (mount("tmpfs", path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
    failure_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
    return;
  }
  mounted_ = true;
  std::filesystem::copy_file(dir.file("libkovrasc.so"), path + "/libkovrasc.so");
  std::filesystem::copy_file(dir.file("kvrct.ini"), path + "/kvrct.ini");
  failure_ = fill(path, freeBytes);
}

FullDisk::~FullDisk() {
  if (mounted_ && umount2(path_.c_str(), 0) != 0) umount2(path_.c_str(), MNT_DETACH);
}

}  // namespace kvrtest
