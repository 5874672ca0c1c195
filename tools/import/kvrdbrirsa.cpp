// kvrdbrirsa: imports routines from routine-set files in the RSA layout
// (NAME^TYPE^^days,seconds^ headers) or the ANSI layout (bare NAME headers).
// Each file: two header lines, then routines, each a header line, its lines
// and one empty line; an empty line where a header is due ends the file.
// Routines are stored, not compiled. The headers are taken apart on the
// server, exactly as the server splits pieces; with -b on, which packs many
// routines into a request, here where the result is the same.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "binding.h"
#include "file_list.h"
#include "local_files.h"
#include "message_text.h"
#include "packed_import.h"
#include "routine_name.h"
#include "routine_store.h"
#include "routine_types.h"
#include "settings.h"
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

// Field n (from 1) of text between the delimiters, as $p gives it.
std::string piece(const std::string& text, char delimiter, std::size_t n) {
  std::size_t begin = 0;
  for (std::size_t i = 1; i < n; ++i) {
    begin = text.find(delimiter, begin);
    if (begin == std::string::npos) return {};
    ++begin;
  }
  return text.substr(begin, text.find(delimiter, begin) - begin);
}

// splitHeader without a request where the result is the same: cutting at
// "." or "^" is byte work, and so is upper-casing ASCII letters. A type
// field with other bytes is upper-cased as the server does it, so the
// header goes to the server as line by line sends it.
RoutineHeader splitHeaderHere(const std::string& header) {
  const char delimiter = header.find('.') != std::string::npos ? '.' : '^';
  RoutineHeader fields{piece(header, delimiter, 1), piece(header, delimiter, 2), piece(header, delimiter, 4)};
  for (char& c : fields.type) {
    if (static_cast<unsigned char>(c) >= 128) return splitHeader(header);
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return fields;
}

// The type a header names (INT when it names none), or the message for
// standard error that skips the routine.
const kvrtools::RoutineType* typeOf(const RoutineHeader& fields, std::string& refusal) {
  const std::string type = fields.type.empty() ? "INT" : fields.type;
  if (const kvrtools::RoutineType* known = kvrtools::routineTypeNamed(type)) return known;
  refusal =
      kvrimport::messageText("Skipping routine %s: unknown type %s.\n", fields.name, kvrtools::printableName(type));
  return nullptr;
}

// Where the routines go: one request per line, or with -b on packed many to
// a request, the messages in their turn.
class Importer {
 public:
  explicit Importer(bool bulk) {
    if (bulk) packed_.emplace();
  }

  RoutineHeader split(const std::string& header) { return packed_ ? splitHeaderHere(header) : splitHeader(header); }

  void say(const std::string& text) {
    if (packed_) {
      packed_->note(text);
    } else {
      std::fputs(text.c_str(), stdout);
    }
  }

  void complain(const std::string& text) {
    if (packed_) {
      packed_->note({}, text);
      return;
    }
    std::fflush(stdout);
    std::fputs(text.c_str(), stderr);
  }

  // acceptRoutineName in its turn.
  bool acceptName(const std::string& name) {
    if (packed_ && !kvrtools::isTransferableRoutineName(name)) packed_->finish();
    return kvrtools::acceptRoutineName(name);
  }

  void store(const std::string& announcement, const kvrtools::RoutineType& type, kvrimport::RoutineText routine) {
    if (!packed_) {
      say(announcement);
      if (!kvrimport::storeRoutine(kvrimport::Addressing::kGlobalInLocal, type, routine)) failed_ = true;
      return;
    }
    packed_->add({.announcement = announcement,
                  .type = &type,
                  .text = std::move(routine),
                  .addressing = kvrimport::Addressing::kGlobalInLocal,
                  .compilation = std::nullopt,
                  .stored = [this](bool stored) { failed_ = failed_ || !stored; }});
  }

  // Everything sent and shown; true when every routine handed to store was
  // stored.
  bool finish() {
    if (packed_) packed_->finish();
    return !failed_;
  }

 private:
  std::optional<kvrimport::PackedImport> packed_;
  bool failed_ = false;
};

// Imports every routine of one file's lines; false when a routine was
// skipped here (one the server refused counts in the importer).
bool importFile(Importer& importer, const std::string& path, LineCursor file) {
  file.take();
  file.take();
  bool allStored = true;
  while (std::optional<std::string> header = nextHeader(file)) {
    const RoutineHeader fields = importer.split(*header);
    kvrimport::RoutineText routine{fields.name, routineLines(file), ""};
    if (!importer.acceptName(fields.name)) {
      allStored = false;
      continue;
    }
    std::string refusal;
    const kvrtools::RoutineType* type = typeOf(fields, refusal);
    if (!type) {
      importer.complain(refusal);
      allStored = false;
      continue;
    }
    // The field goes into an M line, so only a real timestamp is taken;
    // anything else counts as no timestamp.
    routine.timestamp = kvrimport::isRoutineTimestamp(fields.timestamp) ? fields.timestamp : "";
    if (routine.timestamp.empty()) routine.timestamp = kvrtools::fileTimestamp(path);
    importer.store("Importing routine " + fields.name + "." + std::string(type->name) + "\n", *type,
                   std::move(routine));
  }
  return allStored;
}

// One file: announced, read whole, its routines imported. A file that cannot
// be read is reported and imports nothing; the run goes on and ends with 1.
bool processFile(Importer& importer, const std::string& path) {
  importer.say("Processing file " + path + "\n");
  kvrimport::SourceText text = kvrimport::loadSourceFile(path);
  if (!text.lines) {
    importer.complain(text.refusal);
    return false;
  }
  return importFile(importer, path, LineCursor(std::move(*text.lines)));
}

int importFiles(const std::string& files) {
  Importer importer(kvrtools::bulkTransfer(kvrtools::connectionSettings()));
  const bool allRead =
      kvrtools::forEachListedFile(files, [&importer](const std::string& path) { return processFile(importer, path); });
  const bool allStored = importer.finish();
  return kvrtools::statusOf(allRead && allStored);
}

}  // namespace

int main(int argc, char** argv) {
  const kvrtools::Tool tool{.usage = kUsage, .missingArgument = "Routines for import does not specified."};
  return kvrtools::runTool(argc, argv, tool, [](const std::string& files, const kvrtools::CommandLine&) {
    return importFiles(files);
  });
}
