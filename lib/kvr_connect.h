// TKvrConnect: one connection to a Kovra Server (or, with cntTindra, to the
// in-process virtual machine). It holds the settings as properties, opens and
// closes the connection through SetActive, offers the data operations, and
// reports failures through DoError according to ErrorHandler.
//
// Layering: socket_transport (POSIX calls) -> tls_session (when KOVRA_TLS
// asks for it) -> reply_reader (framing, no I/O)
// -> handshake.cpp / command_loop.cpp (protocol steps of this class)
// -> c_api.cpp (the C boundary).
//
// One thread at a time per object; objects share no state, so different
// threads may drive different objects at once. Events run synchronously on
// the caller's thread inside the operation that fires them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "connect_error.h"
#include "connect_limit.h"
#include "mlist.h"
#include "reply_reader.h"
#include "tindra_backend.h"
#include "tls_session.h"
#include "wire_format.h"
#include "wire_trace.h"

namespace kovra {

enum TConnectType { cntKovra = 0, cntTindra = 1 };
enum TErrorHandler { htException = 0, htEvent = 1 };

// Credentials sent by the connect step when Active is true.
struct TMAuthorization {
  bool Active = false;
  std::string UserName;
  std::string Password;
  std::string Application;
};

class TKvrConnect {
 public:
  using TNotifyEvent = std::function<void(TKvrConnect& sender)>;
  using TMConnectEvent = std::function<void(TKvrConnect& sender, bool connected)>;
  using TMConnectGroupRead =
      std::function<void(TKvrConnect& sender, std::string_view value, bool& continueRead)>;
  using TMTerminalEvent = std::function<void(TKvrConnect& sender, std::string_view value)>;
  using TConnectErrorEvent = std::function<void(TKvrConnect& sender, TConnectError error)>;
  using TCallbackCommandEvent = std::function<void(
      TKvrConnect& sender, std::string_view command, std::string& callbackResult)>;
  using TBlobReadWriteEvent = std::function<void(TKvrConnect& sender, void*& stream)>;
  using TServerEvent = std::function<void(
      TKvrConnect& sender, std::string_view eventName, std::string_view eventParams)>;

  TKvrConnect();
  ~TKvrConnect();
  TKvrConnect(const TKvrConnect&) = delete;
  TKvrConnect& operator=(const TKvrConnect&) = delete;

  // Component state: both false in ordinary use. While Loading, Active and the
  // guarded properties are only stored; Loaded() then connects. While
  // Designing, SetActive does nothing and refusals are silent.
  bool Loading = false;
  bool Designing = false;
  void Loaded();
  // Pointer-sized tag; the C boundary keeps the handle's TOutput here.
  void* Tag = nullptr;

  // Events. Each is called only when set. An OnGroupRead that sets its
  // Continue flag to false ends the command at once and leaves the rest of
  // its replies unread for the next command to meet: the caller then owns
  // that stream (the C interface never stops a group). Any other handler
  // that fails while its command is on the wire drops the connection.
  TNotifyEvent OnBeginConnect;
  TMConnectEvent OnEndConnect;
  TMConnectGroupRead OnGroupRead;
  TBlobReadWriteEvent OnBlobRead;   // never fired by this library
  TBlobReadWriteEvent OnBlobWrite;  // never fired by this library
  TMTerminalEvent OnTerminalOutput;
  TConnectErrorEvent OnConnectError;
  TCallbackCommandEvent OnCallback;
  // Server messages ("<ONMSGCALLBACK>"); not published, nothing here sets it.
  TServerEvent OnServerEvent;

  // Properties.
  TConnectType ConnectType = cntKovra;
  bool RaiseBreakFlowError = true;
  bool StoreSession = false;  // no operation consults it
  TErrorHandler ErrorHandler = htException;
  std::string NameSpace = "%SYS";  // used at the next open
  std::string MError;              // last refusal marker or format complaint
  std::vector<std::string> Query;
  TMAuthorization Authorization;
  // cntTindra: changes to the machine's default settings, used at the next
  // open.
  TTindraOverrides TindraOverrides;

  bool ActiveSession() const { return !sessionId_.empty(); }
  const std::string& ServerAddress() const { return serverAddress_; }
  const std::string& Host() const { return host_; }
  std::int32_t ServerPort() const { return serverPort_; }
  // Refused while active (ceCannotChangeProperty; the value is not stored).
  void SetServerAddress(std::string value);
  void SetHost(std::string value);
  void SetServerPort(std::int32_t value);
  bool Active() const { return active_; }
  // Opens (connect step, handshake) or closes. A failed TCP open never raises:
  // it leaves Active false, and ConnectFailure says why. cntTindra open
  // failures are raised.
  void SetActive(bool value);
  // Why the last TCP open failed ("Connection refused", "unknown host x",
  // "connect timed out after 10 s", "the server did not greet within 10 s",
  // "TLS: certificate verify failed: ...", or the refusal the server greeted
  // with); empty after one that worked.
  const std::string& ConnectFailure() const { return connectFailure_; }
  const std::vector<std::string>& QueryResult() const { return queryResult_; }
  // Test seam (not part of the C interface): opens over fd, an already
  // connected stream socket that the object then owns, as SetActive(true)
  // does after its TCP connect. A reconnect still goes to ServerAddress.
  void OpenOnSocket(int fd);

  // Data operations. REQUIRES an active connection (else ceNotConnected).
  std::string Read(std::string_view expression);
  std::string Write(std::string_view name, std::string_view value);
  // After an "<OK>" end, also hands the result to OnGroupRead.
  std::string Execute(std::string_view code);
  std::string Kill(std::string_view name);
  std::string ListRequest(std::string_view expression);
  void ReadQuery();
  void ExecuteQuery();
  void KillQuery();
  // Runs code with its raw terminal output streamed to OnTerminalOutput in
  // pieces of kOutputChunkSize bytes; returns the final reply as stored. A
  // final reply other than "<OK>" is a server error, as in RunCommand.
  std::string ExecuteOutput(std::string_view code);

  // The single error routine: raises EMConnectError (htException) or fires
  // OnConnectError and returns (htEvent).
  void DoError(TConnectError kind);
  void CheckConnected();

  // Protocol state, for inspection.
  const std::string& RequestText() const { return requestText_; }
  const std::string& ReplyText() const { return replyText_; }
  const std::string& JobId() const { return jobId_; }
  const std::string& SessionId() const { return sessionId_; }
  int Socket() const { return socket_; }
  int BusyCount() const { return busy_; }

 private:
  // Raises the busy count for one scope and lowers it also when a failure
  // passes.
  class BusyScope {
   public:
    explicit BusyScope(TKvrConnect& c) : c_(c) { c_.SetBusy(true); }
    ~BusyScope() { c_.SetBusy(false); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

   private:
    TKvrConnect& c_;
  };

  void SetBusy(bool busy);
  // Transport (kvr_connect.cpp).
  void ConnectSocket();
  void AdoptSocket(int fd);
  // When the environment asks for TLS, runs the handshake on the new socket
  // before any byte of the protocol; a failure leaves the object inactive
  // with the reason in connectFailure_.
  void SecureSocket();
  // Keeps the TLS session's reason for a failed send or receive.
  void NoteTransportFailure();
  void Disconnect();
  void SendRequest();
  bool SendOnSocket();
  // Waits for one complete reply in replyText_. False when the wait ended
  // without one (connection dropped, reported through DoError in htEvent).
  bool ReceiveReply();
  bool ReadMore();
  void DropConnection(TConnectError kind);
  // The opening of a connection, bounded by one time limit (connect_limit.h):
  // the connect and the handshake run inside it.
  template <typename Open>
  void Opening(Open open);
  // Starts the trace of a connection being opened (when KOVRA_TRACE asks
  // for one) and records the outcome of the TCP connect. describe() words
  // the connection; it runs only when there is a trace to write to.
  template <typename Describe>
  void StartTrace(Describe describe);
  // Protocol steps (handshake.cpp, command_loop.cpp).
  void ConnectStep();
  void Handshake();
  void Login();
  // Serves the replies of the request in requestText_. True when "<OK>" ended
  // the command.
  bool RunCommand();
  // Runs an event handler while a command is on the wire. A handler that
  // fails leaves the command's remaining replies unread in between, so the
  // connection is dropped before the failure passes on: no later command
  // may take those replies for its own.
  template <typename Handler>
  void CallHandler(Handler&& handler);
  // Reads the rest of a command that failed on the client's side up to its
  // end, answering the server as if no handler were set.
  void SkipRestOfCommand() noexcept;
  bool ReadTerminalOutput();
  // Hands the first fill bytes of chunk_ to OnTerminalOutput.
  void HandOnOutput(std::size_t fill);
  [[noreturn]] void RaiseServerError(std::string_view lastCallback) const;
  bool IsQuietBreak() const;
  std::string RunDataCommand(std::string request, bool* endedWithOk = nullptr);
  TTindraBackend& Tindra();

  std::string serverAddress_;
  std::string host_;
  std::int32_t serverPort_ = 0;
  bool active_ = false;
  std::vector<std::string> queryResult_;
  std::string connectFailure_;
  // Set while a connection is being opened: every wait for the server is
  // then bounded by it.
  std::optional<TConnectLimit> openLimit_;
  bool greeted_ = false;  // the opening has had the server's greeting

  std::int32_t busy_ = 0;
  int socket_ = -1;
  std::unique_ptr<tls::TTlsSession> tls_;  // null for a clear-text connection
  std::string requestText_;
  TSecretSpan secret_;  // the part of requestText_ a trace shows as ***
  std::string replyText_;
  std::string jobId_;
  std::string sessionId_;
  TReplyReader reader_;
  std::array<char, wire::kOutputChunkSize> chunk_{};
  TMList list_;
  std::unique_ptr<TTindraBackend> tindra_;
  std::unique_ptr<TWireTrace> trace_;  // null unless KOVRA_TRACE asked for one
};

}  // namespace kovra
