// A FastCGI request as the extension driver needs it: the parameters libfcgi
// received (untrusted: whatever the peer sent) checked and turned into a
// RequestInfo, and the body read from the request's input stream with a
// bound. Used by the FastCGI host's workers for every request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "host/request_info.h"

struct FCGX_Stream;

namespace host {

struct FcgiRequest {
  RequestInfo info;
  std::string target;                        // REQUEST_URI as received, for the log
  std::optional<std::uint64_t> contentLength;  // CONTENT_LENGTH, when given
};

// Fills *request from the parameters (an array of "NAME=value" strings ending
// with a null pointer, as libfcgi keeps them). The CGI variables become the
// request line, path info and translated path, addresses and protocol;
// HTTP_* parameters become header fields (HTTP_USER_AGENT -> User-Agent).
// Returns 0, or the HTTP status to answer instead of running the extension:
// 431 when the parameters together exceed maxBytes, 403 for a role other
// than a responder (an authorizer or filter must never be told "200"), 400
// for a CONTENT_LENGTH that is not a number.
int RequestFromParams(const char* const* params, std::size_t maxBytes, FcgiRequest* request);

// Reads the body from `in` into request->info.body: CONTENT_LENGTH bytes,
// else up to the end of the input. Returns 0, 413 for a body above maxBytes
// (nothing beyond the bound is kept), 400 when the input ends early or fails
// (a peer that stalls past the connection's read timeout fails here).
int ReadRequestBody(FCGX_Stream* in, std::size_t maxBytes, FcgiRequest* request);

// "USER_AGENT" -> "User-Agent": the header field a CGI variable stands for.
std::string FieldNameOf(const std::string& variableTail);

}  // namespace host
