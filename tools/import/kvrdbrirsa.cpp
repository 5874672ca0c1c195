// kvrdbrirsa: imports routines from routine-set files in the RSA layout
// (NAME^TYPE^^days,seconds^ headers) or the ANSI layout (bare NAME headers).
// Each file: two header lines, then routines, each a header line, its lines
// and one empty line; an empty line where a header is due ends the file.
// Routines are stored, not compiled. The headers are taken apart on the
// server, exactly as the server splits pieces.
#include <cstdio>
#include <string>
#include <vector>

#include "binding.h"
#include "file_list.h"
#include "local_files.h"
#include "routine_name.h"
#include "routine_store.h"
#include "routine_types.h"
#include "source_file.h"
#include "tool_run.h"

namespace {

constexpr std::string_view kUsage =
    "Kovra CommandLine Tools.\n"
    "Import one or more routines from file in RSA or ANSI format.\n"
    "Usage: kvrdbrirsa [-s server] [-p port] [-d database] file[s]\n"
    "  server:   TCP/IP computer name of Kovra Server.\n"
    "  port:     TCP/IP port of server listening port (default 5000).\n"
    "  database: current Kovra database name.\n"
    "  file[s]:     comma-separated list of files with placeholders * and ?\n"
    "kvrdbrirsa -h displays this help screen.\n";

// A line that ends a routine or the file. Files written with CR LF endings
// carry a lone CR there; without this rule such a file would read as one
// routine that swallows all the others.
bool endsBlock(const std::string& line) { return line.empty() || line == "\r"; }

// The next routine header, without the CR of a CR LF file; nothing at the
// end of the file or at the empty line that ends it.
std::optional<std::string> nextHeader(std::FILE* file) {
  std::optional<std::string> line = kvrtools::readTextLine(file);
  if (!line || endsBlock(*line)) return std::nullopt;
  if (line->back() == '\r') line->pop_back();
  return line;
}

// The routine's lines up to its closing empty line (consumed) or the end of
// the file. Routine lines keep their carriage returns.
std::vector<std::string> routineLines(std::FILE* file) {
  std::vector<std::string> lines;
  while (std::optional<std::string> line = kvrtools::readTextLine(file)) {
    if (endsBlock(*line)) break;
    lines.push_back(std::move(*line));
  }
  return lines;
}

struct RoutineHeader {
  std::string name;
  std::string type;
  std::string timestamp;
};

// Splits the header on the server: "." is the delimiter when the line holds
// one, else "^"; field 1 the name, 2 the type, 4 the timestamp.
RoutineHeader splitHeader(const std::string& header) {
  kvrtools::setVariable("line", header);
  kvrtools::execute(R"(s delim=$s($f(line,"."):".",1:"^"))");
  RoutineHeader fields;
  fields.name = kvrtools::evaluate("$p(line,delim,1)").value_or("");
  fields.type = kvrtools::evaluate("$zupper($p(line,delim,2))").value_or("");
  fields.timestamp = kvrtools::evaluate("$p(line,delim,4)").value_or("");
  return fields;
}

// The type a header names (INT when it names none); nothing, with the
// routine reported, for a type the server does not keep.
const kvrtools::RoutineType* typeOf(const RoutineHeader& fields) {
  const std::string type = fields.type.empty() ? "INT" : fields.type;
  if (const kvrtools::RoutineType* known = kvrtools::routineTypeNamed(type)) return known;
  std::fflush(stdout);
  std::fprintf(stderr, "Skipping routine %s: unknown type %s.\n", fields.name.c_str(),
               kvrtools::printableName(type).c_str());
  return nullptr;
}

// Imports every routine of one open file; false when a routine was skipped.
bool importFile(const std::string& path, std::FILE* file) {
  kvrtools::readTextLine(file);
  kvrtools::readTextLine(file);
  bool allStored = true;
  while (std::optional<std::string> header = nextHeader(file)) {
    const RoutineHeader fields = splitHeader(*header);
    kvrimport::RoutineText routine{fields.name, routineLines(file), ""};
    if (!kvrtools::acceptRoutineName(fields.name)) {
      allStored = false;
      continue;
    }
    const kvrtools::RoutineType* type = typeOf(fields);
    if (!type) {
      allStored = false;
      continue;
    }
    // The field goes into an M line, so only a real timestamp is taken;
    // anything else counts as no timestamp.
    routine.timestamp = kvrimport::isRoutineTimestamp(fields.timestamp) ? fields.timestamp : "";
    if (routine.timestamp.empty()) routine.timestamp = kvrtools::fileTimestamp(path);
    std::printf("Importing routine %s.%.*s\n", fields.name.c_str(), static_cast<int>(type->name.size()),
                type->name.data());
    if (!kvrimport::storeRoutine(kvrimport::Addressing::kGlobalInLocal, *type, routine)) allStored = false;
  }
  return allStored;
}

// One file: announced, opened, its routines read. An unreadable file is
// reported and the run goes on without changing the status.
bool processFile(const std::string& path) {
  std::printf("Processing file %s\n", path.c_str());
  auto file = kvrimport::openForReading(path);
  if (!file) {
    kvrimport::reportUnreadable(path);
    return true;
  }
  return importFile(path, file.get());
}

}  // namespace

int main(int argc, char** argv) {
  const kvrtools::Tool tool{.usage = kUsage, .missingArgument = "Routines for import does not specified."};
  return kvrtools::runTool(argc, argv, tool, [](const std::string& files, const kvrtools::CommandLine&) {
    return kvrtools::statusOf(kvrtools::forEachListedFile(files, processFile));
  });
}
