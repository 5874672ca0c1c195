// The three types of routine the server keeps, and how each maps between
// plain source files, masks and globals. Every utility that turns a file
// name, a mask piece or a type field into a global, or back, asks here.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace kvrtools {

struct RoutineType {
  std::string_view extension;  // of its plain source file: lower case, no "."
  std::string_view name;       // upper case, as masks and routine dates name it
  std::string_view global;     // where the server keeps its lines
  bool compiled;               // compiling it makes an object in kObjectGlobal
};

inline constexpr RoutineType kIncludeType{"inc", "INC", "^rINC", false};
inline constexpr RoutineType kIntType{"int", "INT", "^ROUTINE", true};
inline constexpr RoutineType kMacroType{"mac", "MAC", "^rMAC", true};

inline constexpr std::array<const RoutineType*, 3> kRoutineTypes = {&kIncludeType, &kIntType, &kMacroType};

// The compiled objects of INT and MAC routines.
inline constexpr std::string_view kObjectGlobal = "^rOBJ";

// The type named name in any letter case ("INT", "mac"), or nullptr.
const RoutineType* routineTypeNamed(std::string_view name);

// The type of a file extension or mask suffix with its "." (".int", ".MAC"),
// in any letter case, or nullptr.
const RoutineType* routineTypeOfExtension(std::string_view extension);

// The file name rule: a leading "%" of a routine name is written as "_" in
// a file name, and read back.
std::string routineToFileName(std::string_view routine);
std::string fileToRoutineName(std::string_view fileName);

// NAME.ext, the plain source file of routine of type.
std::string sourceFileName(std::string_view routine, const RoutineType& type);

}  // namespace kvrtools
