// The one M virtual machine of libtindra.so: an in-memory engine server with
// one job, whose terminal is the device call-backs of the settings record the
// caller created it with.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "mengine/engine.h"
#include "tindra_vm.h"

namespace tindra {

// The text of a string record from the caller, cut to the longest string a
// record holds; a missing record is a syntax error, as a missing argument is.
std::string_view TextOf(const KOVRA_STR* record);

// Turns the job's output into device call-backs: CR LF -> new line, form feed,
// runs of TAB -> tab(n), other control bytes one by one, everything else as
// values. A call-back that fails ends the running M code with "<WRITE>".
class DeviceIo final : public mengine::JobIo {
 public:
  explicit DeviceIo(TINDRAVM& settings) : settings_(settings) {}
  void write(std::string_view bytes) override;
  void outputValue(std::string_view value) override;
  // The machine has no client to ask: every call-back answers empty.
  std::string callback(std::string_view, std::string_view) override { return {}; }
  void message(std::string_view) override {}

 private:
  void WriteText(std::string_view text);
  static void Check(std::int32_t result);
  TINDRAVM& settings_;
};

class Machine {
 public:
  // REQUIRES: settings checked by SettingsError() (and kept in place until
  // the machine is destroyed).
  explicit Machine(TINDRAVM& settings);

  // Why the settings cannot make a machine; empty when they can.
  static std::string SettingsError(const TINDRAVM& settings);

  void Execute(std::string_view code);
  std::string Evaluate(std::string_view expression);
  void Set(std::string_view reference, std::string_view value);
  void Kill(std::string_view reference);
  // Longest text getstr_t hands out.
  std::size_t MaxText() const { return maxText_; }
  TINDRAVM& Settings() { return settings_; }

  // The error text of the last failed service ("" after a success).
  std::string lastError;

 private:
  TINDRAVM& settings_;
  mengine::Server server_;
  mengine::Job job_;
  DeviceIo io_;
  std::size_t maxText_;
};

// The machine while it exists (created by CreateTindraVM, freed by
// FreeTindraVM), else null.
Machine* CurrentMachine();
void SetCurrentMachine(std::unique_ptr<Machine> machine);

// M source texts built from caller data (string values are quoted with the
// client library's kovra::QuoteM). Both throw mengine::MError("<SYNTAX>") for
// texts that are not what they claim to be, so caller data never becomes M
// code of its own.
//
// A reference to a local (global: with ^) named `name` with the given
// subscripts (count records at subscripts).
std::string Reference(const KOVRA_STR* name, std::int32_t count, const KOVRA_STR* subscripts,
                      bool global);
// A routine entry: label, ^routine or label^routine.
std::string Entry(const KOVRA_STR* entry);

}  // namespace tindra
