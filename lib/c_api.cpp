// The connection functions of the C interface: a thin layer over TKvrConnect.
// Every function that can fail runs its work inside Guarded(), which turns any
// exception into the handle's last error and a 0 result; nothing escapes.
#include <exception>
#include <initializer_list>
#include <memory>
#include <string>

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

// A record argument the function cannot do without, named as in kovrasc.h.
struct Required {
  const KOVRA_STR* record;
  const char* name;
};

template <typename Work>
int Guarded(void* handle, std::initializer_list<Required> required, Work&& work) noexcept {
  if (handle == nullptr) return 0;
  try {
    for (const Required& argument : required) {
      if (argument.record == nullptr) {
        throw EKovraError(std::string("Missing argument: ") + argument.name + ".");
      }
    }
    return work(ConnectionOf(handle)) ? 1 : 0;
  } catch (const EKovraError& e) {
    StoreLastError(handle, e.Message());
  } catch (const std::exception& e) {
    StoreLastError(handle, e.what());
  } catch (...) {
    StoreLastError(handle, ConnectErrorText(ceUnknown));
  }
  return 0;
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
    result = KovraStrToText(&resultRecord);
  };
}

}  // namespace
}  // namespace kovra

using kovra::KovraStrToText;
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
  return kovra::Guarded(handle, {}, [](TKvrConnect& c) {
    c.SetActive(true);
    // A failed open says why when the transport knows (a TLS failure).
    if (!c.Active() && !c.ConnectFailure().empty()) throw kovra::EKovraError(c.ConnectFailure());
    c.Execute("zn \"" + c.NameSpace + "\"");
    return c.Active();
  });
}

int KVRConnectClose(void* handle) {
  return kovra::Guarded(handle, {}, [](TKvrConnect& c) {
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
  return kovra::Guarded(handle, {{expression, "expression"}, {value, "value"}}, [&](TKvrConnect& c) {
    const std::string result = c.Read(KovraStrToText(expression));
    TextToKovraStr(result, value);
    return true;
  });
}

int KVRWrite(void* handle, KOVRA_STR* name, KOVRA_STR* value) {
  return kovra::Guarded(handle, {{name, "name"}, {value, "value"}}, [&](TKvrConnect& c) {
    c.Write(KovraStrToText(name), KovraStrToText(value));
    return true;
  });
}

int KVRExecute(void* handle, KOVRA_STR* code) {
  return kovra::Guarded(handle, {{code, "code"}}, [&](TKvrConnect& c) {
    c.Execute(KovraStrToText(code));
    return true;
  });
}

int KVRKill(void* handle, KOVRA_STR* name) {
  return kovra::Guarded(handle, {{name, "name"}}, [&](TKvrConnect& c) {
    c.Kill(KovraStrToText(name));
    return true;
  });
}

int KVRExecuteOutput(void* handle, KOVRA_STR* code) {
  return kovra::Guarded(handle, {{code, "code"}}, [&](TKvrConnect& c) {
    c.ExecuteOutput(KovraStrToText(code));
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
