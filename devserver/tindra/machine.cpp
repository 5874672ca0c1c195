#include "machine.h"

#include <cctype>
#include <string_view>

#include "quote_m.h"

namespace tindra {

namespace {

std::unique_ptr<Machine> theMachine;

// An M name: a % or a letter, then letters and digits.
bool IsName(std::string_view text) {
  if (text.empty()) return false;
  if (text[0] != '%' && !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (!std::isalnum(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

std::string_view Name(const KOVRA_STR* record) {
  std::string_view text = TextOf(record);
  if (!IsName(text)) throw mengine::MError("<SYNTAX>");
  return text;
}

mengine::ServerOptions OptionsOf(const TINDRAVM& settings) {
  mengine::ServerOptions options;
  if (settings.directory != nullptr) options.directory = settings.directory;
  return options;
}

}  // namespace

std::string_view TextOf(const KOVRA_STR* record) {
  if (record == nullptr) throw mengine::MError("<SYNTAX>");
  return {record->str, std::min<std::size_t>(record->len, KOVRA_STR_MAX)};
}

Machine* CurrentMachine() { return theMachine.get(); }
void SetCurrentMachine(std::unique_ptr<Machine> machine) { theMachine = std::move(machine); }

std::string Machine::SettingsError(const TINDRAVM& settings) {
  if (settings.recordSize != static_cast<std::int32_t>(sizeof(TINDRAVM))) {
    return "settings record of another layout";
  }
  if (settings.jobNumber <= 0) return "job number must be positive";
  if (settings.maxText < 1 || settings.maxText > 32767) return "text limit out of range";
  return {};
}

Machine::Machine(TINDRAVM& settings)
    : settings_(settings),
      server_(OptionsOf(settings)),
      job_(server_, settings.jobNumber),
      io_(settings),
      maxText_(static_cast<std::size_t>(settings.maxText)) {
  const std::string database = settings.database != nullptr ? settings.database : "";
  if (!database.empty() && database != job_.database()) {
    if (!server_.hasDatabase(database)) throw mengine::MError("<NAMESPACE>");
    job_.execute("zn " + kovra::QuoteM(database), io_);
  }
}

void Machine::Execute(std::string_view code) { job_.execute(code, io_); }
std::string Machine::Evaluate(std::string_view expression) {
  return job_.evaluate(expression, io_);
}
void Machine::Set(std::string_view reference, std::string_view value) {
  job_.set(reference, value, io_);
}
void Machine::Kill(std::string_view reference) { job_.kill(reference, io_); }

// ---- Output ------------------------------------------------------------------

void DeviceIo::Check(std::int32_t result) {
  if (result != 0) throw mengine::MError("<WRITE>");
}

void DeviceIo::WriteText(std::string_view text) {
  while (!text.empty()) {
    const std::size_t n = std::min<std::size_t>(text.size(), KOVRA_STR_MAX);
    if (settings_.devwritestr != nullptr) {
      auto value = std::make_unique<ZVALUE>();
      value->text.len = static_cast<std::uint16_t>(n);
      std::copy_n(text.data(), n, value->text.str);
      Check(settings_.devwritestr(&settings_, value.get()));
    }
    text.remove_prefix(n);
  }
}

void DeviceIo::write(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char ch = static_cast<unsigned char>(bytes[i]);
    if (ch >= 32) {
      std::size_t end = i;
      while (end < bytes.size() && static_cast<unsigned char>(bytes[end]) >= 32) ++end;
      WriteText(bytes.substr(i, end - i));
      i = end;
    } else if (ch == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
      if (settings_.devwritenl != nullptr) Check(settings_.devwritenl(&settings_));
      i += 2;
    } else if (ch == '\f') {
      if (settings_.devwriteff != nullptr) Check(settings_.devwriteff(&settings_));
      ++i;
    } else if (ch == '\t') {
      std::size_t end = i;
      while (end < bytes.size() && bytes[end] == '\t') ++end;
      if (settings_.devwritetab != nullptr) {
        Check(settings_.devwritetab(&settings_, static_cast<std::int32_t>(end - i)));
      }
      i = end;
    } else {
      if (settings_.devwritechar != nullptr) Check(settings_.devwritechar(&settings_, ch));
      ++i;
    }
  }
}

void DeviceIo::outputValue(std::string_view value) { WriteText(value); }

// ---- M source from caller data -------------------------------------------------

std::string Reference(const KOVRA_STR* name, std::int32_t count, const KOVRA_STR* subscripts,
                      bool global) {
  if (count < 0 || (count > 0 && subscripts == nullptr)) throw mengine::MError("<SYNTAX>");
  std::string reference = global ? "^" : "";
  reference += Name(name);
  for (std::int32_t i = 0; i < count; ++i) {
    reference += i == 0 ? '(' : ',';
    reference += kovra::QuoteM(TextOf(&subscripts[i]));
  }
  if (count > 0) reference += ')';
  return reference;
}

std::string Entry(const KOVRA_STR* entry) {
  const std::string_view text = TextOf(entry);
  const std::size_t caret = text.find('^');
  const std::string_view label = text.substr(0, caret);
  const bool labelOk = label.empty() ? caret != std::string_view::npos : IsName(label);
  const bool routineOk =
      caret == std::string_view::npos || IsName(text.substr(caret + 1));
  if (!labelOk || !routineOk) throw mengine::MError("<SYNTAX>");
  return std::string(text);
}

}  // namespace tindra
