#include "connect_error.h"

namespace kovra {

const char* ConnectErrorText(TConnectError kind) {
  switch (kind) {
    case ceNoJob: return "Can't create new job.";
    case ceBadFormat: return "Not compatible server data format.";
    case ceNotConnected: return "Connect does not exist.";
    case ceCannotChangeProperty: return "Can't change property.";
    case ceInvalidType: return "Invalid command type.";
    case ceReserved5: return "";
    case ceNoSession: return "Can't create session.";
    case ceSocketNotConnected: return "Socket is not connected.";
    case ceDataNotSended: return "Socket data not sent.";
    case ceUnknown: return "Unknown error.";
  }
  return "";
}

}  // namespace kovra
