// Where a utility loads libkovrasc.so from. The library installed with the
// utility comes first: beside the program, then in the library folder of the
// installation (kInstalledLibraryFolder, relative to the program's folder).
// Only when neither holds one is ./libkovrasc.so of the current folder
// considered, and then only when nobody but the user (or root) can have put
// it there: the current folder, the file and, for a symbolic link, the folder
// of its target must belong to the user or to root and be writable by
// neither group nor others. Whoever can write there would otherwise run code
// with the user's rights.
#pragma once

#include <string>

namespace kvrtools {

inline constexpr const char* kLibraryName = "libkovrasc.so";

#ifdef KOVRA_INSTALLED_LIBRARY_FOLDER
inline constexpr const char* kInstalledLibraryFolder = KOVRA_INSTALLED_LIBRARY_FOLDER;
#else
inline constexpr const char* kInstalledLibraryFolder = "../lib";
#endif

struct LibraryChoice {
  std::string path;     // the file to load; empty when there is none to load
  std::string shown;    // the name the load-failure message gives it
  std::string refusal;  // with no path: why not
};

// The folder of the running program (from /proc/self/exe); empty when the
// system does not say.
std::string programFolder();

// Chooses among programFolder/libkovrasc.so,
// programFolder/libraryFolder/libkovrasc.so (libraryFolder relative unless it
// begins with "/") and currentFolder/libkovrasc.so, by the rules above.
LibraryChoice chooseLibrary(const std::string& programFolder, const std::string& libraryFolder,
                            const std::string& currentFolder);

}  // namespace kvrtools
