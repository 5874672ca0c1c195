// The connection functions of the C interface: a thin layer over TKvrConnect.
// Every function that can fail runs its work inside OnConnection(), which
// turns any exception into the handle's last error and a 0 result; nothing
// escapes. Argument records are read as c_boundary.h says.
#include <exception>
#include <memory>
#include <string>

#include "c_boundary.h"
#include "kovra_str.h"
#include "kovrasc.h"
#include "kvr_connect.h"

namespace kovra {
namespace {

// The per-handle record: the caller's call-backs and the last error. The
// connection keeps it in its Tag; the handle is the connection's address.
struct TOutput {
  kvroutput_t output = nullptr;
  kvrgroupread_t groupRead = nullptr;
  kvrcallback_t callback = nullptr;
  std::string lastError;
};

TKvrConnect& ConnectionOf(void* handle) { return *static_cast<TKvrConnect*>(handle); }
TOutput& OutputOf(TKvrConnect& connection) { return *static_cast<TOutput*>(connection.Tag); }

void StoreLastError(void* handle, std::string_view message) noexcept {
  // The stored text holds at most what one record can carry.
  try {
    OutputOf(ConnectionOf(handle)).lastError = message.substr(0, KOVRA_STR_MAX);
  } catch (...) {
    // Out of memory: the previous text stays.
  }
}

// Runs work on the handle's connection inside Guarded; a failure becomes the
// handle's last error. A null handle fails at once and has none.
template <typename Work>
int OnConnection(void* handle, Work&& work) noexcept {
  if (handle == nullptr) return 0;
  return Guarded([&] { return work(ConnectionOf(handle)) ? 1 : 0; },
                 [&](std::string_view message) {
                   StoreLastError(handle, message.empty() ? ConnectErrorText(ceUnknown) : message);
                 });
}

// Binds the connection's events to the C call-backs of its TOutput. Each
// record lives on the stack for the duration of one call-back.
void BindEvents(TKvrConnect& connection) {
  connection.OnTerminalOutput = [](TKvrConnect& sender, std::string_view text) {
    kvroutput_t output = OutputOf(sender).output;
    if (output == nullptr) return;
    KOVRA_STR record;
    TextToKovraStr(text, &record);
    output(&sender, &record);
  };
  connection.OnGroupRead = [](TKvrConnect& sender, std::string_view value, bool& continueRead) {
    continueRead = true;  // a C caller cannot stop a group read
    kvrgroupread_t groupRead = OutputOf(sender).groupRead;
    if (groupRead == nullptr) return;
    KOVRA_STR record;
    TextToKovraStr(value, &record);
    groupRead(&sender, &record);
  };
  connection.OnCallback = [](TKvrConnect& sender, std::string_view command, std::string& result) {
    kvrcallback_t callback = OutputOf(sender).callback;
    result.clear();
    if (callback == nullptr) return;
    KOVRA_STR commandRecord;
    KOVRA_STR resultRecord;
    resultRecord.len = 0;
    TextToKovraStr(command, &commandRecord);
    callback(&sender, &commandRecord, &resultRecord);
    // A length beyond the record is refused as for any argument; the server
    // still needs an answer, and the empty text is the one that says nothing.
    if (resultRecord.len <= KOVRA_STR_MAX) result = KovraStrToText(&resultRecord);
  };
}

// The database of the open: zn with its name. A server that does not know
// the name says so with "<NAMESPACE>"; that becomes a plain reason instead of
// the whole server error.
void SelectDatabase(TKvrConnect& connection) {
  try {
    connection.Execute("zn \"" + connection.NameSpace + "\"");
  } catch (const EKovraError&) {
    if (!connection.Active() || !connection.ReplyText().starts_with("<NAMESPACE>")) throw;
    throw EKovraError("database " + connection.NameSpace + " does not exist");
  }
}

}  // namespace
}  // namespace kovra

using kovra::ArgumentText;
using kovra::ResultRecord;
using kovra::TextToKovraStr;
using kovra::TKvrConnect;

extern "C" {

void* KVRCreateConnect(const char* server, int port, const char* nameSpace) {
  try {
    auto connection = std::make_unique<TKvrConnect>();
    auto output = std::make_unique<kovra::TOutput>();
    connection->SetServerAddress(server ? server : "");
    connection->SetServerPort(port);
    connection->NameSpace = nameSpace ? nameSpace : "";
    connection->Tag = output.release();
    kovra::BindEvents(*connection);
    return connection.release();
  } catch (...) {
    return nullptr;  // only an exhausted heap gets here
  }
}

void KVRDestroyConnect(void* handle) {
  if (handle == nullptr) return;
  // The record first, then the connection, whose destructor closes an open
  // connection and cannot fail.
  TKvrConnect* connection = &kovra::ConnectionOf(handle);
  delete &kovra::OutputOf(*connection);
  connection->Tag = nullptr;
  delete connection;
}

int KVRConnectOpen(void* handle) {
  return kovra::OnConnection(handle, [](TKvrConnect& c) {
    c.SetActive(true);
    // A failed open leaves the reason as the last error, so a caller can
    // tell a typing mistake from a firewall.
    if (!c.Active()) {
      throw kovra::EKovraError(c.ConnectFailure().empty() ? kovra::ConnectErrorText(kovra::ceNotConnected)
                                                          : c.ConnectFailure());
    }
    kovra::SelectDatabase(c);
    return c.Active();
  });
}

int KVRConnectClose(void* handle) {
  return kovra::OnConnection(handle, [](TKvrConnect& c) {
    c.SetActive(false);
    return true;
  });
}

void KVRGetLastError(void* handle, KOVRA_STR* error) {
  if (error == nullptr) return;
  if (handle == nullptr) {
    error->len = 0;
    return;
  }
  TextToKovraStr(kovra::OutputOf(kovra::ConnectionOf(handle)).lastError, error);
}

int KVRRead(void* handle, KOVRA_STR* expression, KOVRA_STR* value) {
  return kovra::OnConnection(handle, [&](TKvrConnect& c) {
    const std::string text = ArgumentText(expression, "expression");
    KOVRA_STR& result = ResultRecord(value, "value");
    TextToKovraStr(c.Read(text), &result);
    return true;
  });
}

int KVRWrite(void* handle, KOVRA_STR* name, KOVRA_STR* value) {
  return kovra::OnConnection(handle, [&](TKvrConnect& c) {
    const std::string variable = ArgumentText(name, "name");
    c.Write(variable, ArgumentText(value, "value"));
    return true;
  });
}

int KVRExecute(void* handle, KOVRA_STR* code) {
  return kovra::OnConnection(handle, [&](TKvrConnect& c) {
    c.Execute(ArgumentText(code, "code"));
    return true;
  });
}

int KVRKill(void* handle, KOVRA_STR* name) {
  return kovra::OnConnection(handle, [&](TKvrConnect& c) {
    c.Kill(ArgumentText(name, "name"));
    return true;
  });
}

int KVRExecuteOutput(void* handle, KOVRA_STR* code) {
  return kovra::OnConnection(handle, [&](TKvrConnect& c) {
    c.ExecuteOutput(ArgumentText(code, "code"));
    return true;
  });
}

void KVRSetOutput(void* handle, kvroutput_t callback) {
  if (handle != nullptr) kovra::OutputOf(kovra::ConnectionOf(handle)).output = callback;
}

void KVRSetGroupRead(void* handle, kvrgroupread_t callback) {
  if (handle != nullptr) kovra::OutputOf(kovra::ConnectionOf(handle)).groupRead = callback;
}

void KVRSetCallback(void* handle, kvrcallback_t callback) {
  if (handle != nullptr) kovra::OutputOf(kovra::ConnectionOf(handle)).callback = callback;
}

}  // extern "C"
