// Constants of the Kovra wire format, shared by the client library and by
// kvrdevserver so that both sides agree on every framing byte, and the one
// error text by which the utilities read a server's rejection.
#pragma once

#include <cstddef>
#include <string_view>

namespace kovra::wire {

// Data bytes the client's receive buffer holds; a reply (header, NUL and any
// body) that does not fit can never complete.
inline constexpr std::size_t kReceiveBufferSize = 32768;

// Terminal output of a "t" request is handed on in pieces of this size.
inline constexpr std::size_t kOutputChunkSize = 2048;

// Reply tags. A reply is classified by its tag alone (exact, case-sensitive).
inline constexpr std::string_view kTagOk = "<OK>";
inline constexpr std::string_view kTagConnect = "<CONNECT>";
inline constexpr std::string_view kTagGoOn = "<GO ON>";
inline constexpr std::string_view kTagCallback = "<CALLBACK>";
inline constexpr std::string_view kTagMessageCallback = "<ONMSGCALLBACK>";
inline constexpr std::string_view kTagTerminal = "<TERMINAL>";
inline constexpr std::string_view kTagInvalidType = "<INVALID TYPE>";
inline constexpr std::string_view kTagNoJob = "<NO JOB>";
inline constexpr std::string_view kTagNoSession = "<NO SESSION>";

// Request type fields (the bytes before a request's first NUL or colon).
inline constexpr std::string_view kRequestRead = "r";
inline constexpr std::string_view kRequestWrite = "w";
inline constexpr std::string_view kRequestExecute = "x";
inline constexpr std::string_view kRequestExecuteOutput = "t";
inline constexpr std::string_view kRequestKill = "k";
inline constexpr std::string_view kRequestCallbackAnswer = "c";
inline constexpr std::string_view kRequestLogin = "lg";
inline constexpr std::string_view kRequestConnect = "MR";
inline constexpr std::string_view kSubjectConnect = "cr";

// The marker that a break-of-flow error reply carries.
inline constexpr std::string_view kBreakFlowMarker = "ZBRKF";

// How the library's error text begins when the server answered a request
// with a failure (the connection stays usable). The utilities tell such a
// rejection from a lost connection by this prefix.
inline constexpr std::string_view kServerErrorPrefix = "Internal server error:";

}  // namespace kovra::wire
