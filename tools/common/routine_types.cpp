#include "routine_types.h"

#include <strings.h>

namespace kvrtools {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

const RoutineType* routineTypeNamed(std::string_view name) {
  for (const RoutineType* type : kRoutineTypes)
    if (equalsIgnoringCase(name, type->name)) return type;
  return nullptr;
}

const RoutineType* routineTypeOfExtension(std::string_view extension) {
  if (!extension.starts_with('.')) return nullptr;
  return routineTypeNamed(extension.substr(1));
}

std::string routineToFileName(std::string_view routine) {
  std::string name(routine);
  if (!name.empty() && name[0] == '%') name[0] = '_';
  return name;
}

std::string fileToRoutineName(std::string_view fileName) {
  std::string name(fileName);
  if (!name.empty() && name[0] == '_') name[0] = '%';
  return name;
}

std::string sourceFileName(std::string_view routine, const RoutineType& type) {
  return routineToFileName(routine) + "." + std::string(type.extension);
}

}  // namespace kvrtools
