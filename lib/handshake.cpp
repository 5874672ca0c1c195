// The connect step's protocol: the server's greeting and the login step.
#include <array>
#include <span>
#include <utility>

#include "kvr_connect.h"
#include "mpiece.h"
#include "requests.h"

namespace kovra {

namespace {

struct RefusalMarker {
  std::string_view marker;
  TConnectError kind;
};

constexpr std::array<RefusalMarker, 4> kRefusals{{
    {wire::kTagInvalidType, ceInvalidType},
    {wire::kTagNoJob, ceNoJob},
    {wire::kTagNoSession, ceNoSession},
    {wire::kTagConnect, ceUnknown},
}};

}  // namespace

void TKvrConnect::Handshake() {
  // Without credentials the client sends nothing and lets the server speak
  // first; in particular a reconnect never sends a pending request as its
  // opening message.
  replyText_.clear();
  if (Authorization.Active) {
    const std::array<TMList::Value, 3> credentials{
        Authorization.UserName, Authorization.Password, Authorization.Application};
    list_.Build(credentials);
    requestText_ = BuildConnectRequest(NameSpace, list_.Data());
    if (trace_) {
      // The password element sits between the user's and the application's.
      TMList part;
      part.Build(std::span(credentials).first(1));
      const std::size_t userLength = part.Data().size();
      part.Build(std::span(credentials).subspan(2));
      const std::size_t listAt = requestText_.size() - list_.Data().size();
      secret_ = {listAt + userLength, list_.Data().size() - userLength - part.Data().size()};
    }
    if (!SendOnSocket()) return;
  }
  if (!ReceiveReply()) return;

  const std::size_t open = replyText_.find('<');
  if (open != std::string::npos && open > 0) replyText_.erase(0, open);
  const std::string_view reply(replyText_);
  const TMPiece pieces(reply.substr(0, reply.empty() ? 0 : reply.size() - 1), ':');

  if (pieces.Count() == 1) {
    bool matched = false;
    for (const RefusalMarker& refusal : kRefusals) {
      if (!replyText_.starts_with(refusal.marker)) continue;
      matched = true;
      MError = refusal.marker;
      DoError(refusal.kind);
    }
    if (!matched) {
      MError = "Unknown format of received data.";
      DoError(ceBadFormat);
    }
  } else if (pieces.Count() == 2 && pieces.Piece(0) == wire::kTagOk) {
    jobId_ = pieces.Piece(1);
    active_ = true;
    return;
  } else if (pieces.Count() == 3 && pieces.Piece(0) == wire::kTagConnect) {
    active_ = true;
    greeted_ = true;
    Login();
    return;
  }
  Disconnect();
}

void TKvrConnect::Login() {
  // The login request travels over the connection that has just greeted; it
  // counts as open only once the server has accepted the login.
  requestText_ = BuildLoginRequest(jobId_);
  if (!SendOnSocket()) return;
  if (!ReceiveReply()) {
    active_ = false;
    return;
  }
  const std::string_view tag = TReplyReader::TagOf(replyText_);
  if (tag == wire::kTagOk) {
    const std::string_view header(replyText_.data(), replyText_.find('\0'));
    const std::size_t colon = header.find(':');
    sessionId_ = colon == std::string_view::npos ? std::string() : std::string(header.substr(colon + 1));
    active_ = true;
    return;
  }
  active_ = false;
  DoError(tag == wire::kTagInvalidType ? ceBadFormat : ceInvalidType);
}

}  // namespace kovra
