// kvrdbrirsa: imports routines from routine-set files in the RSA layout
// (NAME^TYPE^^days,seconds^ headers) or the ANSI layout (bare NAME headers).
// Each file: two header lines, then routines, each a header line, its lines
// and one empty line; an empty line where a header is due ends the file.
// Routines are stored, not compiled. The headers are taken apart on the
// server, exactly as the server splits pieces.
#include <cstdio>
#include <optional>
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

// The lines of one file, taken from the front.
class LineCursor {
 public:
  explicit LineCursor(std::vector<std::string> lines) : lines_(std::move(lines)) {}
  // The next line, or nothing at the end of the file.
  std::optional<std::string> take() {
    if (next_ == lines_.size()) return std::nullopt;
    return std::move(lines_[next_++]);
  }

 private:
  std::vector<std::string> lines_;
  std::size_t next_ = 0;
};

// The next routine header, without the CR of a CR LF file; nothing at the
// end of the file or at the empty line that ends it.
std::optional<std::string> nextHeader(LineCursor& file) {
  std::optional<std::string> line = file.take();
  if (!line || endsBlock(*line)) return std::nullopt;
  if (line->back() == '\r') line->pop_back();
  return line;
}

// The routine's lines up to its closing empty line (consumed) or the end of
// the file. Routine lines keep their carriage returns.
std::vector<std::string> routineLines(LineCursor& file) {
  std::vector<std::string> lines;
  while (std::optional<std::string> line = file.take()) {
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
// A header that did not reach the server gives no name (so the routine is
// skipped), never the fields of the header before it.
RoutineHeader splitHeader(const std::string& header) {
  RoutineHeader fields;
  if (!kvrtools::setVariable("line", header)) return fields;
  kvrtools::execute(R"(s delim=$s($f(line,"."):".",1:"^"))");
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

// Imports every routine of one file's lines; false when a routine was
// skipped.
bool importFile(const std::string& path, LineCursor file) {
  file.take();
  file.take();
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

// One file: announced, read whole, its routines imported. A file that cannot
// be read is reported and imports nothing; the run goes on and ends with 1.
bool processFile(const std::string& path) {
  std::printf("Processing file %s\n", path.c_str());
  std::optional<std::vector<std::string>> lines = kvrimport::readSourceFile(path);
  if (!lines) return false;
  return importFile(path, LineCursor(std::move(*lines)));
}

}  // namespace

int main(int argc, char** argv) {
  const kvrtools::Tool tool{.usage = kUsage, .missingArgument = "Routines for import does not specified."};
  return kvrtools::runTool(argc, argv, tool, [](const std::string& files, const kvrtools::CommandLine&) {
    return kvrtools::statusOf(kvrtools::forEachListedFile(files, processFile));
  });
}
