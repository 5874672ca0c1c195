// The request texts of the wire protocol. Lengths are byte counts written in
// plain decimal, so a field may hold any byte, NUL included.
#pragma once

#include <string>
#include <string_view>

namespace kovra {

// type, NUL, len(field), NUL, field: the read, execute, execute-with-output,
// kill and call-back answer requests.
std::string BuildFieldRequest(std::string_view type, std::string_view field);
// "w", NUL, len(N), NUL, N, len(V), NUL, V (no NUL between N and len(V)).
std::string BuildWriteRequest(std::string_view name, std::string_view value);
// "lg:" job NUL.
std::string BuildLoginRequest(std::string_view job);
// "MR:cr:" namespace ":" len(L) NUL L, L the credentials list text.
std::string BuildConnectRequest(std::string_view nameSpace, std::string_view list);
// "<CALLBACK>" id ":" len(R) NUL R: acknowledges a server message.
std::string BuildMessageAcknowledgement(std::string_view id, std::string_view result);
// "fl:" len(L) NUL L.
std::string BuildListRequest(std::string_view list);

}  // namespace kovra
