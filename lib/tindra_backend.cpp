#include "tindra_backend.h"

#include <dlfcn.h>

#include "connect_error.h"

namespace kovra {

namespace {

struct DlCloser {
  void operator()(void* handle) const noexcept { ::dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, DlCloser>;

// Loads the library and checks its entry points. Driving the machine itself
// (its settings and function records) is not part of this build yet, so an
// open that gets past loading still fails, and leaves nothing loaded.
class TDlTindraBackend final : public TTindraBackend {
 public:
  void Open() override {
    LibraryHandle library(::dlopen("./libtindra.so", RTLD_LAZY));
    if (!library) throw EKovraError("Failed to load ./libtindra.so");
    for (const char* name : {"CreateTindraVM", "FreeTindraVM", "GetDefaultSettingsVM"}) {
      if (::dlsym(library.get(), name) == nullptr) {
        throw EKovraError(std::string("Function ") + name + " not found");
      }
    }
    throw EKovraError("The in-process virtual machine is not supported by this build.");
  }
  void Close() noexcept override { library_.reset(); }
  std::string Read(std::string_view) override { Unavailable(); }
  void Write(std::string_view, std::string_view) override { Unavailable(); }
  void Execute(std::string_view) override { Unavailable(); }
  void Kill(std::string_view) override { Unavailable(); }

 private:
  [[noreturn]] static void Unavailable() { throw EMConnectError(ceNotConnected); }
  LibraryHandle library_;
};

}  // namespace

std::unique_ptr<TTindraBackend> CreateTindraBackend() {
  return std::make_unique<TDlTindraBackend>();
}

}  // namespace kovra
