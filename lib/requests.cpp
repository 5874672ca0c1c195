#include "requests.h"

#include "wire_format.h"

namespace kovra {

namespace {

void AppendCounted(std::string& out, std::string_view field) {
  out += std::to_string(field.size());
  out += '\0';
  out += field;
}

}  // namespace

std::string BuildFieldRequest(std::string_view type, std::string_view field) {
  std::string out(type);
  out += '\0';
  AppendCounted(out, field);
  return out;
}

std::string BuildWriteRequest(std::string_view name, std::string_view value) {
  std::string out(wire::kRequestWrite);
  out += '\0';
  AppendCounted(out, name);
  AppendCounted(out, value);
  return out;
}

std::string BuildLoginRequest(std::string_view job) {
  std::string out(wire::kRequestLogin);
  out += ':';
  out += job;
  out += '\0';
  return out;
}

std::string BuildConnectRequest(std::string_view nameSpace, std::string_view list) {
  std::string out(wire::kRequestConnect);
  out += ':';
  out += wire::kSubjectConnect;
  out += ':';
  out += nameSpace;
  out += ':';
  AppendCounted(out, list);
  return out;
}

std::string BuildMessageAcknowledgement(std::string_view id, std::string_view result) {
  std::string out(wire::kTagCallback);
  out += id;
  out += ':';
  AppendCounted(out, result);
  return out;
}

std::string BuildListRequest(std::string_view list) {
  std::string out("fl:");
  AppendCounted(out, list);
  return out;
}

}  // namespace kovra
