// What the reader pages share: the frame of an HTML5 page (head with its
// style sheet for screens, narrow screens and print; skip link; header
// with the site's links), the not-found and bad-request pages, the
// response head with a status and a content type, and small pieces of
// markup. Pages are made in windows-1250 like everything else and turned
// into UTF-8 once, when they are written (utf8.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "portico/eli_address.h"

namespace portico {

class CRequest;

// Sends "200 OK" (or the status given, "404 Not Found") with a content
// type, then the UTF-8 body, and runs the request epilogue.
void WriteUtf8Response(CRequest& request, const char* status, const char* contentType, std::string_view utf8);

// A complete page (windows-1250): `title` plain text, `head` further head
// markup, `body` the markup inside the body element.
std::string HtmlPage(std::string_view title, std::string_view head, std::string_view body);
// Writes a page made by HtmlPage as UTF-8 with that status.
void WriteHtmlPage(CRequest& request, const char* status, std::string_view page);

// The header every reader page starts with: the site's links (search,
// the frameset version when `framesAddress` is not empty).
std::string SiteHeader(std::string_view framesAddress);

// The answer to an address that names nothing: status 404, a page that says
// what was not found (`what`, plain windows-1250 text, escaped here) and
// links to the search; `upTo` (may be empty) is an address of what was
// found on the way, with its caption.
void WriteNotFound(CRequest& request, std::string_view what, std::string_view upTo = {},
                   std::string_view upToCaption = {});
// Status 400 with a short page naming what was wrong with the request.
void WriteBadRequest(CRequest& request, std::string_view what);

// Text of a request (path or field) as a page may show it: windows-1250
// when it is UTF-8 that windows-1250 can hold, else its bytes as "%XX" above
// 0x7F; at most `limit` bytes of it. Still to be escaped.
std::string RequestText(std::string_view text, std::size_t limit = 200);

// The value of the field `name` of a query string ("z=pierwotny&na=DU%2F2009%2F946"):
// the first field of exactly that name, "%XX" and "+" decoded; nothing when absent.
std::optional<std::string> QueryField(std::string_view query, std::string_view name);

// Every byte for which `keep` is false as "%XX".
std::string PercentEscaped(std::string_view text, bool (*keep)(unsigned char));

// A provision number as shown: "22(1)" -> "22<sup>1</sup>".
std::string DisplayNumber(std::string_view number);
// An id made of any name: letters, digits, "-", "_", "." and ":" kept, the
// rest "_"; prefixed so it never begins with anything but a letter.
std::string SafeId(std::string_view prefix, std::string_view name);

}  // namespace portico
