#include "tindra_backend.h"

#include <dlfcn.h>

#include <atomic>
#include <exception>
#include <mutex>

#include "connect_error.h"
#include "kovra_str.h"
#include "kvr_connect.h"
#include "tindra_vm.h"

namespace kovra {

namespace {

struct DlCloser {
  void operator()(void* handle) const noexcept { ::dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, DlCloser>;

class TDlTindraBackend;

// The backend whose machine exists. The machine exists at most once per
// process, so its output belongs to the connection that created it, not to
// whichever connection was constructed last. Opening and closing hold
// machineLock, so two threads never create or free the machine at once and
// the second of two opens is refused; the device call-backs only read the
// owner, on the thread the machine runs on.
std::mutex machineLock;
std::atomic<TDlTindraBackend*> machineOwner{nullptr};

constexpr const char* kMachineExists = "CreateTindraVM: Tindra virtual machine already been created";

template <typename Function>
Function Resolve(void* library, const char* name) {
  void* address = ::dlsym(library, name);
  if (address == nullptr) throw EKovraError(std::string("Function ") + name + " not found");
  return reinterpret_cast<Function>(address);
}

std::unique_ptr<KOVRA_STR> Record(std::string_view text) {
  // A text the record cannot hold is refused rather than cut: a cut M line
  // or value would run or store something the caller never wrote.
  if (text.size() > KOVRA_STR_MAX) throw EKovraError("<MAXSTRING>");
  auto record = std::make_unique<KOVRA_STR>();
  TextToKovraStr(text, record.get());
  return record;
}

class TDlTindraBackend final : public TTindraBackend {
 public:
  explicit TDlTindraBackend(TKvrConnect& owner) : owner_(owner) {}
  ~TDlTindraBackend() override { Close(); }
  TDlTindraBackend(const TDlTindraBackend&) = delete;
  TDlTindraBackend& operator=(const TDlTindraBackend&) = delete;

  void Open(const TTindraOverrides& overrides) override;
  void Close() noexcept override;
  std::string Read(std::string_view expression) override;
  void Write(std::string_view name, std::string_view value) override;
  void Execute(std::string_view code) override;
  void Kill(std::string_view name) override;

  // Runs one delivery of machine output to the owner's events. A handler's
  // failure is kept and raised once the service returns; the machine is
  // told to stop (result 1) instead of having the exception thrown through
  // it.
  template <typename Deliver>
  std::int32_t Output(Deliver deliver) noexcept {
    if (pending_) return 1;
    try {
      deliver(owner_);
      return 0;
    } catch (...) {
      pending_ = std::current_exception();
      return 1;
    }
  }
  std::string TextOf(const ZVALUE* value);

 private:
  const ZDLLCB& Services() const;
  // Raises a failure of the service just called: the handler's exception
  // first, else the machine's error text.
  void Check(std::int32_t result);
  void SetLocal(const char* name, std::string_view value);

  TKvrConnect& owner_;
  LibraryHandle library_;
  FreeTindraVM_t free_ = nullptr;
  const ZDLLCB* services_ = nullptr;
  TINDRAVM settings_{};
  std::string directory_;
  std::string database_;
  std::exception_ptr pending_;
};

// ---- Device call-backs: the machine's terminal ---------------------------------

// Hands one piece of machine output to the owner's events; nothing when no
// connection owns the machine.
template <typename Deliver>
std::int32_t ToOwner(Deliver deliver) {
  TDlTindraBackend* owner = machineOwner.load();
  if (owner == nullptr) return 0;
  return owner->Output([&](TKvrConnect& c) { deliver(*owner, c); });
}

std::int32_t DeviceWriteString(TINDRAVM*, const ZVALUE* value) {
  return ToOwner([&](TDlTindraBackend& backend, TKvrConnect& c) {
    const std::string text = backend.TextOf(value);
    if (c.OnGroupRead) {
      bool continueRead = true;
      c.OnGroupRead(c, text, continueRead);
    } else if (c.OnTerminalOutput) {
      c.OnTerminalOutput(c, text);
    }
  });
}

std::int32_t DeviceWriteChar(TINDRAVM*, std::int32_t code) {
  return ToOwner([&](TDlTindraBackend&, TKvrConnect& c) {
    const char byte = static_cast<char>(code);
    if (c.OnTerminalOutput) c.OnTerminalOutput(c, std::string_view(&byte, 1));
  });
}

std::int32_t DeviceWriteNewLine(TINDRAVM*) {
  return ToOwner([](TDlTindraBackend&, TKvrConnect& c) {
    if (c.OnTerminalOutput) c.OnTerminalOutput(c, "\r\n");
  });
}

std::int32_t DeviceWriteFormFeed(TINDRAVM*) { return 0; }

std::int32_t DeviceWriteTab(TINDRAVM*, std::int32_t count) {
  return ToOwner([&](TDlTindraBackend&, TKvrConnect& c) {
    for (std::int32_t i = 0; i < count && c.OnTerminalOutput; ++i) c.OnTerminalOutput(c, "\t");
  });
}

// ---- Opening and closing ---------------------------------------------------------

void TDlTindraBackend::Open(const TTindraOverrides& overrides) {
  Close();
  const std::lock_guard<std::mutex> lock(machineLock);
  // Another connection's machine: refused before the library is touched.
  if (machineOwner.load() != nullptr) throw EKovraError(kMachineExists);
  LibraryHandle library(::dlopen("./libtindra.so", RTLD_LAZY));
  if (!library) throw EKovraError("Failed to load ./libtindra.so");
  const auto create = Resolve<CreateTindraVM_t>(library.get(), "CreateTindraVM");
  const auto free = Resolve<FreeTindraVM_t>(library.get(), "FreeTindraVM");
  const auto defaults = Resolve<GetDefaultSettingsVM_t>(library.get(), "GetDefaultSettingsVM");

  settings_ = TINDRAVM{};
  defaults(&settings_);
  directory_ = overrides.Directory;
  database_ = overrides.Database;
  settings_.directory = directory_.c_str();
  if (overrides.JobNumber != -1) settings_.jobNumber = overrides.JobNumber;
  if (overrides.MaxText != -1) settings_.maxText = overrides.MaxText;
  if (overrides.Reserved32 != -1) settings_.reserved32 = overrides.Reserved32;
  if (!database_.empty()) settings_.database = database_.c_str();
  settings_.devwritestr = DeviceWriteString;
  settings_.devwritechar = DeviceWriteChar;
  settings_.devwritenl = DeviceWriteNewLine;
  settings_.devwriteff = DeviceWriteFormFeed;
  settings_.devwritetab = DeviceWriteTab;

  const std::int32_t result = create(&settings_);
  // Result 1: another connection's machine exists. It is left alone: neither
  // freed here nor unloaded (the loader counts our handle separately).
  if (result == 1) throw EKovraError(kMachineExists);
  if (result != 0) throw EKovraError("Function CreateTindraVM failed");
  const ZDLLCB* services = settings_.services;
  if (services == nullptr || !services->errstr || !services->execute || !services->eval ||
      !services->getstr || !services->writelocal) {
    free();
    throw EKovraError("Function CreateTindraVM failed");
  }
  library_ = std::move(library);
  free_ = free;
  services_ = services;
  machineOwner.store(this);
}

void TDlTindraBackend::Close() noexcept {
  if (services_ != nullptr) {
    const std::lock_guard<std::mutex> lock(machineLock);
    free_();
    services_ = nullptr;
    free_ = nullptr;
    machineOwner.store(nullptr);
  }
  library_.reset();
  pending_ = nullptr;
}

// ---- Data operations ---------------------------------------------------------------

const ZDLLCB& TDlTindraBackend::Services() const {
  if (services_ == nullptr) throw EMConnectError(ceNotConnected);
  return *services_;
}

void TDlTindraBackend::Check(std::int32_t result) {
  if (pending_) {
    std::exception_ptr failure = std::move(pending_);
    pending_ = nullptr;
    std::rethrow_exception(failure);
  }
  if (result == 0) return;
  auto text = std::make_unique<KOVRA_STR>();
  if (services_->errstr(text.get()) != 0) text->len = 0;
  std::string message = KovraStrToText(text.get());
  if (message.empty()) message = ConnectErrorText(ceUnknown);
  throw EKovraError(std::move(message));
}

std::string TDlTindraBackend::TextOf(const ZVALUE* value) {
  auto text = std::make_unique<KOVRA_STR>();
  const std::int32_t result = Services().getstr(value, text.get());
  if (result != 0) Check(result);
  return KovraStrToText(text.get());
}

void TDlTindraBackend::SetLocal(const char* name, std::string_view value) {
  const ZDLLCB& services = Services();
  const auto nameRecord = Record(name);
  const auto valueRecord = Record(value);
  Check(services.writelocal(nameRecord.get(), 0, nullptr, valueRecord.get()));
}

std::string TDlTindraBackend::Read(std::string_view expression) {
  const ZDLLCB& services = Services();
  const auto record = Record(expression);
  auto value = std::make_unique<ZVALUE>();
  Check(services.eval(record.get(), value.get()));
  return TextOf(value.get());
}

void TDlTindraBackend::Write(std::string_view name, std::string_view value) {
  const ZDLLCB& services = Services();
  SetLocal("%1", name);
  SetLocal("%2", value);
  const auto line = Record("s @%1=%2");
  Check(services.execute(line.get()));
}

void TDlTindraBackend::Execute(std::string_view code) {
  const ZDLLCB& services = Services();
  const auto record = Record(code);
  Check(services.execute(record.get()));
}

void TDlTindraBackend::Kill(std::string_view name) {
  const ZDLLCB& services = Services();
  SetLocal("%1", name);
  const auto line = Record("k @%1");
  Check(services.execute(line.get()));
}

}  // namespace

std::unique_ptr<TTindraBackend> CreateTindraBackend(TKvrConnect& owner) {
  return std::make_unique<TDlTindraBackend>(owner);
}

}  // namespace kovra
