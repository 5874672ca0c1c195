// The seam to the in-process virtual machine (ConnectType cntTindra). The
// connection calls only this interface on its cntTindra paths; the machine's
// record layouts and services live behind it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace kovra {

class TTindraBackend {
 public:
  virtual ~TTindraBackend() = default;
  // Loads ./libtindra.so and creates the machine; raises EKovraError with the
  // loader's text when that fails (the connection then stays inactive).
  virtual void Open() = 0;
  // Frees the machine and unloads the library; never fails.
  virtual void Close() noexcept = 0;
  virtual std::string Read(std::string_view expression) = 0;
  virtual void Write(std::string_view name, std::string_view value) = 0;
  virtual void Execute(std::string_view code) = 0;
  virtual void Kill(std::string_view name) = 0;
};

// The backend that loads ./libtindra.so from the current directory.
std::unique_ptr<TTindraBackend> CreateTindraBackend();

}  // namespace kovra
