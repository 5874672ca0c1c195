// The machine's services (the ZDLLCB table). Each runs on the one machine,
// turns every failure into a non-zero result and keeps its text for errstr.
#include "services.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>

#include "machine.h"
#include "quote_m.h"

namespace tindra {

namespace {

void SetValue(ZVALUE* value, std::string_view text) {
  if (value == nullptr) throw mengine::MError("<SYNTAX>");
  if (text.size() > KOVRA_STR_MAX) throw mengine::MError("<MAXSTRING>");
  value->text.len = static_cast<std::uint16_t>(text.size());
  std::copy(text.begin(), text.end(), value->text.str);
}

// Runs one service body on the machine; 0 on success, 1 with the error text
// kept for errstr otherwise. Nothing is thrown across the C boundary.
template <typename Body>
std::int32_t Serve(Body body) {
  Machine* machine = CurrentMachine();
  if (machine == nullptr) return 1;
  machine->lastError.clear();
  try {
    body(*machine);
    return 0;
  } catch (const std::exception& e) {
    machine->lastError = e.what();
  } catch (...) {
    machine->lastError = "<UNKNOWN>";
  }
  if (machine->lastError.empty()) machine->lastError = "<UNKNOWN>";
  return 1;
}

// The integer part of the value's number, as M computes it.
std::int64_t IntegerOf(Machine& m, const ZVALUE* value) {
  const std::string digits = m.Evaluate(kovra::QuoteM(TextOf(&value->text)) + "\\1");
  std::int64_t number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (error != std::errc() || end != digits.data() + digits.size()) {
    throw mengine::MError("<MAXNUMBER>");
  }
  return number;
}

void SetNumber(Machine& m, ZVALUE* value, std::string_view number) {
  SetValue(value, m.Evaluate("+" + kovra::QuoteM(number)));
}

std::string Arguments(std::int32_t count, const KOVRA_STR* arguments) {
  if (count < 0 || (count > 0 && arguments == nullptr)) throw mengine::MError("<SYNTAX>");
  std::string text;
  for (std::int32_t i = 0; i < count; ++i) {
    text += i == 0 ? "(" : ",";
    text += kovra::QuoteM(TextOf(&arguments[i]));
  }
  if (count > 0) text += ')';
  return text;
}

std::int32_t ErrStr(KOVRA_STR* text) {
  Machine* machine = CurrentMachine();
  if (machine == nullptr || text == nullptr) return 1;
  const std::size_t n = std::min<std::size_t>(machine->lastError.size(), KOVRA_STR_MAX);
  text->len = static_cast<std::uint16_t>(n);
  std::copy_n(machine->lastError.data(), n, text->str);
  return 0;
}

std::int32_t Execute(const KOVRA_STR* code) {
  return Serve([&](Machine& m) { m.Execute(TextOf(code)); });
}

std::int32_t Eval(const KOVRA_STR* expression, ZVALUE* value) {
  return Serve([&](Machine& m) { SetValue(value, m.Evaluate(TextOf(expression))); });
}

std::int32_t GetDouble(const ZVALUE* value, double* number) {
  return Serve([&](Machine& m) {
    const std::string text = m.Evaluate("+" + kovra::QuoteM(TextOf(&value->text)));
    *number = std::strtod(text.c_str(), nullptr);
  });
}

std::int32_t GetInt32(const ZVALUE* value, std::int32_t* number) {
  return Serve([&](Machine& m) {
    const std::int64_t wide = IntegerOf(m, value);
    if (wide < INT32_MIN || wide > INT32_MAX) throw mengine::MError("<MAXNUMBER>");
    *number = static_cast<std::int32_t>(wide);
  });
}

std::int32_t GetInt64(const ZVALUE* value, std::int64_t* number) {
  return Serve([&](Machine& m) { *number = IntegerOf(m, value); });
}

// The machine hands out no text longer than the settings allow, rather than
// a cut one.
std::int32_t GetStr(const ZVALUE* value, KOVRA_STR* text) {
  return Serve([&](Machine& m) {
    const std::string_view source = TextOf(&value->text);
    if (source.size() > m.MaxText() || text == nullptr) throw mengine::MError("<MAXSTRING>");
    text->len = static_cast<std::uint16_t>(source.size());
    std::copy(source.begin(), source.end(), text->str);
  });
}

std::int32_t SetDouble(ZVALUE* value, double number) {
  return Serve([&](Machine& m) {
    if (!std::isfinite(number)) throw mengine::MError("<ILLEGAL VALUE>");
    char text[64];
    std::snprintf(text, sizeof text, "%.15f", number);
    SetNumber(m, value, text);
  });
}

std::int32_t SetInt32(ZVALUE* value, std::int32_t number) {
  return Serve([&](Machine& m) { SetNumber(m, value, std::to_string(number)); });
}

std::int32_t SetInt64(ZVALUE* value, std::int64_t number) {
  return Serve([&](Machine& m) { SetNumber(m, value, std::to_string(number)); });
}

std::int32_t UserFunc(const KOVRA_STR* entry, std::int32_t count, const KOVRA_STR* arguments,
                      ZVALUE* result) {
  return Serve([&](Machine& m) {
    const std::string args = count > 0 ? Arguments(count, arguments) : "()";
    SetValue(result, m.Evaluate("$$" + Entry(entry) + args));
  });
}

std::int32_t UserDo(const KOVRA_STR* entry, std::int32_t count, const KOVRA_STR* arguments) {
  return Serve([&](Machine& m) { m.Execute("d " + Entry(entry) + Arguments(count, arguments)); });
}

std::int32_t Read(const KOVRA_STR* name, std::int32_t count, const KOVRA_STR* subscripts,
                  ZVALUE* value, bool global) {
  return Serve([&](Machine& m) {
    SetValue(value, m.Evaluate(Reference(name, count, subscripts, global)));
  });
}

std::int32_t Write(const KOVRA_STR* name, std::int32_t count, const KOVRA_STR* subscripts,
                   const KOVRA_STR* value, bool global) {
  return Serve([&](Machine& m) {
    m.Set(Reference(name, count, subscripts, global), TextOf(value));
  });
}

std::int32_t Kill(const KOVRA_STR* name, std::int32_t count, const KOVRA_STR* subscripts,
                  bool global) {
  return Serve([&](Machine& m) { m.Kill(Reference(name, count, subscripts, global)); });
}

std::int32_t Order(const KOVRA_STR* name, std::int32_t count, const KOVRA_STR* subscripts,
                   std::int32_t direction, ZVALUE* next, bool global) {
  return Serve([&](Machine& m) {
    if (count < 1 || (direction != 1 && direction != -1)) throw mengine::MError("<SYNTAX>");
    const std::string reference = Reference(name, count, subscripts, global);
    SetValue(next, m.Evaluate("$O(" + reference + "," + std::to_string(direction) + ")"));
  });
}

std::int32_t Increment(const KOVRA_STR* name, std::int32_t count, const KOVRA_STR* subscripts,
                       const KOVRA_STR* increment, ZVALUE* result, bool global) {
  return Serve([&](Machine& m) {
    const std::string reference = Reference(name, count, subscripts, global);
    const std::string sum =
        m.Evaluate("$G(" + reference + ")+" + kovra::QuoteM(TextOf(increment)));
    m.Set(reference, sum);
    SetValue(result, sum);
  });
}

std::int32_t Data(const KOVRA_STR* name, std::int32_t count, const KOVRA_STR* subscripts,
                  std::int32_t* data, bool global) {
  return Serve([&](Machine& m) {
    if (data == nullptr) throw mengine::MError("<SYNTAX>");
    const std::string text = m.Evaluate("$D(" + Reference(name, count, subscripts, global) + ")");
    *data = std::stoi(text);
  });
}

template <bool Global>
std::int32_t ReadAt(const KOVRA_STR* n, std::int32_t c, const KOVRA_STR* s, ZVALUE* v) {
  return Read(n, c, s, v, Global);
}
template <bool Global>
std::int32_t WriteAt(const KOVRA_STR* n, std::int32_t c, const KOVRA_STR* s, const KOVRA_STR* v) {
  return Write(n, c, s, v, Global);
}
template <bool Global>
std::int32_t KillAt(const KOVRA_STR* n, std::int32_t c, const KOVRA_STR* s) {
  return Kill(n, c, s, Global);
}
template <bool Global>
std::int32_t OrderAt(const KOVRA_STR* n, std::int32_t c, const KOVRA_STR* s, std::int32_t d,
                     ZVALUE* v) {
  return Order(n, c, s, d, v, Global);
}
template <bool Global>
std::int32_t IncrementAt(const KOVRA_STR* n, std::int32_t c, const KOVRA_STR* s,
                         const KOVRA_STR* i, ZVALUE* v) {
  return Increment(n, c, s, i, v, Global);
}
template <bool Global>
std::int32_t DataAt(const KOVRA_STR* n, std::int32_t c, const KOVRA_STR* s, std::int32_t* d) {
  return Data(n, c, s, d, Global);
}

std::int32_t SetTest(std::int32_t value) {
  return Serve([&](Machine& m) { m.Execute(value != 0 ? "i 1" : "i 0"); });
}

}  // namespace

const ZDLLCB& ServiceTable() {
  static const ZDLLCB table = {
      ErrStr,        Execute,        Eval,           GetDouble,         GetInt32,
      GetInt64,      GetStr,         SetDouble,      SetInt32,          SetInt64,
      UserFunc,      UserDo,         ReadAt<false>,  WriteAt<false>,    ReadAt<true>,
      WriteAt<true>, KillAt<false>,  KillAt<true>,   SetTest,           OrderAt<false>,
      OrderAt<true>, IncrementAt<false>, IncrementAt<true>, DataAt<false>, DataAt<true>,
  };
  return table;
}

}  // namespace tindra
