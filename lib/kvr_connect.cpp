#include "kvr_connect.h"

#include <algorithm>

#include "requests.h"
#include "socket_transport.h"

namespace kovra {

namespace {

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += '\n';
  }
  return text;
}

// Splits at CR, LF or CRLF; a final line break does not start another line.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}
}  // namespace

TKvrConnect::TKvrConnect() = default;

template <typename Describe>
void TKvrConnect::StartTrace(Describe describe) {
  trace_ = TWireTrace::FromEnvironment(this);
  if (!trace_) return;
  std::string text = describe();
  if (!active_) text += " failed";
  trace_->Event(text);
}

TKvrConnect::~TKvrConnect() {
  if (!Designing && active_) {
    if (ConnectType == cntKovra) {
      Disconnect();
    } else if (tindra_) {
      tindra_->Close();
      active_ = false;
    }
  }
  if (socket_ >= 0) net::ReleaseSocket(socket_);
}

void TKvrConnect::Loaded() {
  Loading = false;
  if (!active_) return;
  if (OnBeginConnect) OnBeginConnect(*this);
  if (ConnectType == cntKovra) {
    active_ = false;
    ConnectStep();
  }
  if (OnEndConnect) OnEndConnect(*this, active_);
}

void TKvrConnect::SetServerAddress(std::string value) {
  if (!Loading && active_) {
    if (!Designing) DoError(ceCannotChangeProperty);
    return;
  }
  serverAddress_ = std::move(value);
}

void TKvrConnect::SetHost(std::string value) {
  if (!Loading && active_) {
    if (!Designing) DoError(ceCannotChangeProperty);
    return;
  }
  host_ = std::move(value);
}

void TKvrConnect::SetServerPort(std::int32_t value) {
  if (!Loading && active_) {
    if (!Designing) DoError(ceCannotChangeProperty);
    return;
  }
  serverPort_ = value;
}

void TKvrConnect::SetActive(bool value) {
  if (Loading) {
    active_ = value;
    return;
  }
  if (Designing || value == active_) return;
  if (ConnectType == cntTindra) {
    if (value) {
      Tindra().Open(TindraOverrides);
      active_ = true;
    } else {
      Tindra().Close();
      active_ = false;
    }
    return;
  }
  if (!value) {
    Disconnect();
    return;
  }
  if (OnBeginConnect) OnBeginConnect(*this);
  ConnectStep();
  if (OnEndConnect) OnEndConnect(*this, active_);
  if (!active_) Disconnect();
}

void TKvrConnect::OpenOnSocket(int fd) {
  if (Designing || active_) return;
  AdoptSocket(fd);
  StartTrace([] { return std::string("open on socket"); });
  Opening([this] {
    SecureSocket();
    if (active_) Handshake();
  });
  if (!active_) Disconnect();
}

void TKvrConnect::ConnectStep() {
  Opening([this] {
    ConnectSocket();
    if (active_) Handshake();
  });
}

template <typename Open>
void TKvrConnect::Opening(Open open) {
  BusyScope busy(*this);
  connectFailure_.clear();
  greeted_ = false;
  try {
    openLimit_ = TConnectLimit::FromEnvironment();
    open();
  } catch (const EKovraError& e) {
    // Opening a TCP connection never raises: the caller learns of a failed
    // connect from Active, and why from ConnectFailure.
    active_ = false;
    if (connectFailure_.empty()) connectFailure_ = e.Message();
  } catch (...) {
    active_ = false;
  }
  openLimit_.reset();
  if (active_) {
    connectFailure_.clear();
  } else if (connectFailure_.empty()) {
    connectFailure_ = "the server did not accept the connection";
  }
}

void TKvrConnect::SetBusy(bool busy) {
  if (busy) {
    ++busy_;
  } else if (busy_ > 0) {
    --busy_;
  }
}

void TKvrConnect::DoError(TConnectError kind) {
  if (ErrorHandler == htException) {
    const char* text = ConnectErrorText(kind);
    if (*text != '\0') throw EMConnectError(text, kind);
    return;
  }
  if (OnConnectError) OnConnectError(*this, kind);
}

void TKvrConnect::CheckConnected() {
  if (!active_) DoError(ceNotConnected);
}

TTindraBackend& TKvrConnect::Tindra() {
  if (!tindra_) tindra_ = CreateTindraBackend(*this);
  return *tindra_;
}

// ---- Transport -------------------------------------------------------------

void TKvrConnect::ConnectSocket() {
  const std::string& address = host_.empty() ? serverAddress_ : host_;
  net::TConnectResult tcp = net::ConnectTcp(address, serverPort_, *openLimit_);
  connectFailure_ = std::move(tcp.failure);
  AdoptSocket(tcp.fd);
  StartTrace([&] { return "open " + address + ":" + std::to_string(serverPort_); });
  if (trace_ && !active_) trace_->Event(connectFailure_);
  SecureSocket();
}

void TKvrConnect::SecureSocket() {
  if (!active_) return;
  const tls::TTlsSettings settings = tls::SettingsFromEnvironment();
  if (settings.problem.empty() && settings.mode == tls::TTlsMode::tmOff) return;
  std::string failure = settings.problem;
  if (failure.empty()) {
    tls_ = tls::TTlsSession::Start(socket_, host_.empty() ? serverAddress_ : host_, settings, failure);
  }
  if (!tls_) {
    connectFailure_ = failure;
    if (trace_) trace_->Event(failure);
    active_ = false;
    return;
  }
  if (trace_) trace_->Event(tls_->Describe());
}

void TKvrConnect::NoteTransportFailure() {
  if (tls_ && !tls_->Failure().empty()) connectFailure_ = tls_->Failure();
}

void TKvrConnect::AdoptSocket(int fd) {
  tls_.reset();
  if (socket_ >= 0) net::ReleaseSocket(socket_);
  // Bytes left over from an earlier connection belong to a stream that has
  // ended; a new connection starts with an empty buffer.
  reader_.Clear();
  socket_ = fd;
  active_ = socket_ >= 0;
}

void TKvrConnect::Disconnect() {
  if (trace_) {
    trace_->Event("close");
    trace_.reset();
  }
  active_ = false;
  requestText_.clear();
  replyText_.clear();
  if (tls_) {
    tls_->Close();
    tls_.reset();
  }
  net::ReleaseSocket(socket_);
  socket_ = -1;
}

void TKvrConnect::DropConnection(TConnectError kind) {
  if (trace_) trace_->Event(std::string("drop: ") + ConnectErrorText(kind));
  Disconnect();
  DoError(kind);
}

void TKvrConnect::SendRequest() {
  if (!active_) {
    // The reconnect sends nothing of its own (beyond a connect request when
    // Authorization is active); the pending request goes out once, after it.
    std::string pending = std::move(requestText_);
    const TSecretSpan secret = secret_;
    requestText_.clear();
    SetActive(true);
    requestText_ = std::move(pending);
    secret_ = secret;
    if (!active_) {
      DoError(ceSocketNotConnected);
      return;
    }
  }
  SendOnSocket();
}

bool TKvrConnect::SendOnSocket() {
  if (trace_) trace_->Request(requestText_, secret_);
  secret_ = {};
  if (tls_ ? tls_->SendAll(requestText_) : net::SendAll(socket_, requestText_)) return true;
  NoteTransportFailure();
  // A send that fails leaves a stream of unknown state: drop it rather than
  // wait for a reply to a request the server may not have.
  DropConnection(ceSocketNotConnected);
  return false;
}

bool TKvrConnect::ReceiveReply() {
  replyText_.clear();
  for (;;) {
    switch (reader_.ParseBuffer(replyText_)) {
      case TParseResult::prComplete:
        if (trace_) trace_->Reply(replyText_);
        return true;
      case TParseResult::prNeverFits:
        // The stream cannot be re-synchronised by guessing.
        reader_.Clear();
        DropConnection(ceBadFormat);
        return false;
      case TParseResult::prNeedMore:
        break;
    }
    if (!ReadMore()) return false;
  }
}

bool TKvrConnect::ReadMore() {
  if (socket_ < 0) {
    DoError(ceSocketNotConnected);
    return false;
  }
  // While the connection opens, a server that stays silent must not hold
  // the caller for ever: the wait is bounded. After the opening a reply has
  // no overall limit, so one blocking recv is the whole wait: a readiness
  // poll in front of it would only add a system call to every round trip.
  net::ReadResult read{net::ReadStatus::kTimedOut, 0};
  if (tls_) {
    read = openLimit_ ? tls_->ReceiveWithin(reader_.FreeSpace(), *openLimit_)
                      : tls_->ReceiveSome(reader_.FreeSpace());
  } else if (!openLimit_ || net::WaitReadable(socket_, *openLimit_)) {
    read = net::ReceiveSome(socket_, reader_.FreeSpace());
  }
  if (read.status == net::ReadStatus::kTimedOut) {
    connectFailure_ = (greeted_ ? "the server did not answer the login within " : "the server did not greet within ") +
                      openLimit_->Seconds() + " s";
    DropConnection(ceSocketNotConnected);
    return false;
  }
  if (read.status == net::ReadStatus::kData) {
    reader_.Commit(read.count);
    return true;
  }
  if (openLimit_) {
    connectFailure_ = greeted_ ? "the server closed the connection during the login"
                               : "the server closed the connection without a greeting";
  }
  NoteTransportFailure();
  // Peer closed or the socket failed: the descriptor is released here and
  // never read again.
  DropConnection(ceSocketNotConnected);
  return false;
}

// ---- Data operations ---------------------------------------------------------

std::string TKvrConnect::RunDataCommand(std::string request, bool* endedWithOk) {
  BusyScope busy(*this);
  replyText_.clear();
  requestText_ = std::move(request);
  const bool ok = RunCommand();
  if (endedWithOk) *endedWithOk = ok;
  return replyText_;
}

std::string TKvrConnect::Read(std::string_view expression) {
  CheckConnected();
  if (ConnectType == cntTindra) return Tindra().Read(expression);
  return RunDataCommand(BuildFieldRequest(wire::kRequestRead, expression));
}

std::string TKvrConnect::Write(std::string_view name, std::string_view value) {
  CheckConnected();
  if (ConnectType == cntTindra) {
    Tindra().Write(name, value);
    return {};
  }
  std::string request = BuildWriteRequest(name, value);
  // The login's password travels as the value of %password; a trace shows
  // it as ***.
  if (name == "%password") secret_ = {request.size() - value.size(), value.size()};
  return RunDataCommand(std::move(request));
}

std::string TKvrConnect::Execute(std::string_view code) {
  CheckConnected();
  if (ConnectType == cntTindra) {
    Tindra().Execute(code);
    return {};
  }
  bool endedWithOk = false;
  std::string result = RunDataCommand(BuildFieldRequest(wire::kRequestExecute, code), &endedWithOk);
  if (endedWithOk && OnGroupRead) {
    bool continueRead = true;
    OnGroupRead(*this, result, continueRead);
  }
  return result;
}

std::string TKvrConnect::Kill(std::string_view name) {
  CheckConnected();
  if (ConnectType == cntTindra) {
    Tindra().Kill(name);
    return {};
  }
  return RunDataCommand(BuildFieldRequest(wire::kRequestKill, name));
}

std::string TKvrConnect::ListRequest(std::string_view expression) {
  BusyScope busy(*this);
  CheckConnected();
  const TMList::Value item{std::string(expression)};
  list_.Build(std::span<const TMList::Value>(&item, 1));
  replyText_.clear();
  requestText_ = BuildListRequest(list_.Data());
  RunCommand();
  return replyText_;
}

void TKvrConnect::ReadQuery() { queryResult_ = SplitLines(Read(JoinLines(Query))); }
void TKvrConnect::ExecuteQuery() { queryResult_ = SplitLines(Execute(JoinLines(Query))); }
void TKvrConnect::KillQuery() { queryResult_ = SplitLines(Kill(JoinLines(Query))); }

}  // namespace kovra
