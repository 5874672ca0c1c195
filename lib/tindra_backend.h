// The seam to the in-process virtual machine (ConnectType cntTindra). The
// connection calls only this interface on its cntTindra paths; the machine's
// record layouts and services (tindra_vm.h) live behind it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kovra {

class TKvrConnect;

// What a connection changes in the machine's default settings before it
// creates the machine (what the fields mean: tindra_vm.h).
struct TTindraOverrides {
  std::string Directory;            // always replaces the default (empty: none)
  std::string Database;             // replaces the default when non-empty
  std::int32_t JobNumber = -1;      // each integer replaces the default
  std::int32_t MaxText = -1;        // when it is not -1
  std::int32_t Reserved32 = -1;
};

class TTindraBackend {
 public:
  virtual ~TTindraBackend() = default;
  // Loads ./libtindra.so and creates the machine; raises EKovraError with the
  // loader's text when that fails (nothing stays loaded then).
  virtual void Open(const TTindraOverrides& overrides) = 0;
  // Frees the machine and unloads the library; never fails.
  virtual void Close() noexcept = 0;
  // Each operation raises EKovraError with the machine's error text when the
  // machine fails it, and the exception of an event handler that failed
  // during the operation's output. REQUIRES: open (else ceNotConnected).
  virtual std::string Read(std::string_view expression) = 0;
  virtual void Write(std::string_view name, std::string_view value) = 0;
  virtual void Execute(std::string_view code) = 0;
  virtual void Kill(std::string_view name) = 0;
};

// The backend that loads ./libtindra.so from the current directory. The
// machine's output goes to owner's events (OnGroupRead, OnTerminalOutput)
// while this backend's machine exists.
std::unique_ptr<TTindraBackend> CreateTindraBackend(TKvrConnect& owner);

}  // namespace kovra
