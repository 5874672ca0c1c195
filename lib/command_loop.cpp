// The command loop: sends a request and serves the server's replies until the
// command ends; and the execute-with-terminal-output path.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>

#include "kvr_connect.h"
#include "requests.h"

namespace kovra {

namespace {

// Bytes below 0x20 are written as _$C(n)_ so that the message stays readable.
void AppendRendered(std::string& out, std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20) {
      out += c;
    } else {
      char code[16];
      std::snprintf(code, sizeof code, "_$C(%d)_", byte);
      out += code;
    }
  }
}

std::string_view BodyOf(std::string_view reply) {
  const std::size_t nul = reply.find('\0');
  return nul == std::string_view::npos ? std::string_view() : reply.substr(nul + 1);
}

std::string_view HeaderOf(std::string_view reply) {
  return reply.substr(0, reply.find('\0'));
}

bool IsEmptyHeader(std::string_view reply) { return reply.size() == 1 && reply[0] == '\0'; }

// The identifier of "<ONMSGCALLBACK>id:rest": between the first '>' and the
// first ':' behind it.
std::string_view MessageIdentifier(std::string_view header) {
  std::string_view id = header.substr(header.find('>') + 1);
  return id.substr(0, id.find(':'));
}

// A strict integer conversion: the whole text must be one decimal integer.
std::optional<int> ParseStrictInteger(std::string_view text) {
  int value = 0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  const auto [end, ec] = std::from_chars(first, last, value);
  if (text.empty() || ec != std::errc() || end != last) return std::nullopt;
  return value;
}

EKovraError NotAnInteger(std::string_view text) {
  return EKovraError("'" + std::string(text) + "' is not a valid integer value");
}

}  // namespace

bool TKvrConnect::RunCommand() {
  std::string group;
  std::string callbackResult;
  std::string lastCallback;
  int groupCount = 0;
  bool continueRead = true;
  SendRequest();
  for (;;) {
    // A request that could not go out (reported already) awaits no reply.
    if (socket_ < 0) return false;
    if (!ReceiveReply()) return false;
    if (IsEmptyHeader(replyText_)) continue;
    const std::string_view tag = TReplyReader::TagOf(replyText_);
    const std::string_view body = BodyOf(replyText_);

    if (tag == wire::kTagTerminal) {
      if (OnTerminalOutput) CallHandler([&] { OnTerminalOutput(*this, body); });
    } else if (tag == wire::kTagOk) {
      replyText_ = std::move(group);
      return true;
    } else if (tag == wire::kTagGoOn) {
      if (groupCount > 0 && OnGroupRead) {
        CallHandler([&] { OnGroupRead(*this, group, continueRead); });
        // An early stop leaves the raw reply as the result; the command's
        // remaining replies stay unread on the connection, and the next
        // command meets them. A host that stops a group owns that stream
        // from then on (the C interface never stops one).
        if (!continueRead) return false;
      }
      group.assign(body);
      ++groupCount;
    } else if (tag == wire::kTagCallback) {
      callbackResult.clear();
      if (OnCallback) {
        lastCallback.assign(body);
        CallHandler([&] { OnCallback(*this, lastCallback, callbackResult); });
      }
      requestText_ = BuildFieldRequest(wire::kRequestCallbackAnswer, callbackResult);
      SendRequest();
    } else if (tag == wire::kTagMessageCallback) {
      lastCallback.assign(body);
      callbackResult.clear();
      if (OnServerEvent) {
        CallHandler([&] {
          TMList message;
          message.SetData(lastCallback);
          OnServerEvent(*this, message.GetText(1), list_.Data());
        });
      }
      const std::string_view id = MessageIdentifier(HeaderOf(replyText_));
      const std::optional<int> number = ParseStrictInteger(id);
      if (!number) {
        // The message is ours to refuse, not the command's end: the next
        // command must not meet the replies that follow it. The failure is
        // worded first, while id still points into this reply.
        const EKovraError failure = NotAnInteger(id);
        SkipRestOfCommand();
        throw failure;
      }
      if (*number > 0) {
        requestText_ = BuildMessageAcknowledgement(id, callbackResult);
        BusyScope busy(*this);
        SendRequest();
      }
    } else {
      if (IsQuietBreak()) return false;
      RaiseServerError(lastCallback);
    }
  }
}

template <typename Handler>
void TKvrConnect::CallHandler(Handler&& handler) {
  try {
    handler();
  } catch (...) {
    if (trace_) trace_->Event("drop: an event handler failed");
    Disconnect();
    throw;
  }
}

void TKvrConnect::SkipRestOfCommand() noexcept {
  try {
    for (;;) {
      if (socket_ < 0 || !ReceiveReply()) return;
      const std::string_view tag = TReplyReader::TagOf(replyText_);
      if (tag == wire::kTagCallback) {
        requestText_ = BuildFieldRequest(wire::kRequestCallbackAnswer, {});
      } else if (tag == wire::kTagMessageCallback) {
        const std::string_view id = MessageIdentifier(HeaderOf(replyText_));
        if (ParseStrictInteger(id).value_or(0) <= 0) continue;
        requestText_ = BuildMessageAcknowledgement(id, {});
      } else if (tag == wire::kTagGoOn || tag == wire::kTagTerminal || IsEmptyHeader(replyText_)) {
        continue;
      } else {
        return;  // "<OK>" or the server's failure ends the command
      }
      // Never a reconnect here: a new connection has no command to finish.
      if (!SendOnSocket()) return;
    }
  } catch (...) {
    // A connection lost while skipping is gone already; the caller raises
    // the failure that started the skip.
  }
}

bool TKvrConnect::IsQuietBreak() const {
  return !RaiseBreakFlowError && replyText_.find(wire::kBreakFlowMarker) != std::string::npos;
}

void TKvrConnect::RaiseServerError(std::string_view lastCallback) const {
  std::string message(wire::kServerErrorPrefix);
  message += " '";
  message += replyText_;
  message += "' while executing Last SuccessFull CallBack: ";
  AppendRendered(message, lastCallback);
  message += " Last Executed Command: ";
  AppendRendered(message, requestText_);
  throw EMConnectError(std::move(message), ceUnknown);
}

std::string TKvrConnect::ExecuteOutput(std::string_view code) {
  CheckConnected();
  if (ConnectType == cntTindra) {
    Tindra().Execute(code);
    return replyText_;
  }
  BusyScope busy(*this);
  requestText_ = BuildFieldRequest(wire::kRequestExecuteOutput, code);
  SendRequest();
  if (socket_ < 0 || !ReadTerminalOutput()) return {};
  do {
    if (!ReceiveReply()) return {};
  } while (IsEmptyHeader(replyText_));
  if (TReplyReader::TagOf(replyText_) != wire::kTagOk && !IsQuietBreak()) {
    RaiseServerError({});
  }
  return replyText_;
}

bool TKvrConnect::ReadTerminalOutput() {
  // The raw output is not framed: it runs up to one NUL. It is read in bulk
  // through the receive buffer; what follows the NUL stays there for the
  // final reply.
  std::size_t fill = 0;
  for (;;) {
    const std::string_view pending = reader_.Pending();
    if (pending.empty()) {
      if (!ReadMore()) return false;
      continue;
    }
    const std::size_t take = std::min(pending.size(), chunk_.size() - fill);
    const void* nul = std::memchr(pending.data(), '\0', take);
    const std::size_t n = nul ? static_cast<const char*>(nul) - pending.data() : take;
    std::memcpy(chunk_.data() + fill, pending.data(), n);
    fill += n;
    reader_.Consume(nul ? n + 1 : n);
    if (fill == chunk_.size()) {
      HandOnOutput(fill);
      fill = 0;
    }
    if (nul) break;
  }
  if (fill > 0) HandOnOutput(fill);
  return true;
}

void TKvrConnect::HandOnOutput(std::size_t fill) {
  const std::string_view piece(chunk_.data(), fill);
  if (trace_) trace_->Reply(piece);
  if (OnTerminalOutput) CallHandler([&] { OnTerminalOutput(*this, piece); });
}

}  // namespace kovra
